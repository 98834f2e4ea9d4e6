// encode: writes rendered samples as a file the mixer can load.
//
// WAV is 16-bit PCM written by hand; Ogg Vorbis goes through libvorbisenc
// with a fixed stream serial number, so the same samples always give the
// same bytes. Both take interleaved stereo floats at SYNTH_RATE.
// It does NOT resample, normalise or dither: render.hpp leaves the samples
// ready, and rounding to 16 bits is deterministic.
#pragma once

#include <vector>

// Writes pcm as a 16-bit stereo WAV file at path; fatal if it cannot.
void synth_write_wav(const char *path, const std::vector<float> &pcm);

// Writes pcm as an Ogg Vorbis file at path with the given title tag; fatal if it cannot.
void synth_write_ogg(const char *path, const std::vector<float> &pcm, const char *title);
