// render: turns a score into interleaved stereo samples.
//
// Each note is one voice (oscillators, noise, envelope, filters) mixed into
// its instrument's bus; each bus gets its echo; the buses are summed, DC is
// removed and the result normalised to the score's peak. A looping piece is
// rendered past its end and the overhang added back onto its start, so its
// last sample flows into its first. A one-shot piece ends in exact silence.
//
// Deterministic: the noise comes from a fixed-seed generator of our own, and
// nothing depends on time, addresses or the order of memory allocation.
// It does NOT encode or write files (encode.hpp does).
#pragma once

#include "score.hpp"

#include <vector>

constexpr int SYNTH_RATE = 44100;  // frames per second, what the mixer opens
constexpr int SYNTH_CHANNELS = 2;  // interleaved left, right

// Renders score into pcm (interleaved stereo floats in -1..1); fatal if a note of a one-shot piece
// rings past its length.
void synth_render(const synth_score_t *score, std::vector<float> *pcm);
