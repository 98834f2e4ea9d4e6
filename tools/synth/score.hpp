// score: the readable text form of one piece of music or one sound effect.
//
// A score file holds a tempo, a length, instruments built from a few
// oscillators, an envelope and a little noise, and tracks of notes (the
// format is described in audio/README.md). synth_score_read turns it into a
// flat list of notes in beats; render.hpp turns that into samples.
//
// Ownership: the score_t owns everything it holds (plain vectors).
// It does NOT render, check that the music sounds right, or know about files
// other than the one score it reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int SYNTH_OSC_MAX = 4;  // oscillators per instrument

enum synth_wave_e : int {
  SYNTH_SINE,
  SYNTH_TRIANGLE,
  SYNTH_SAW,
  SYNTH_PULSE,  // square at duty 0.5
};

struct synth_osc_t {
  int wave;             // synth_wave_e
  double ratio;         // frequency multiple of the note's pitch
  double level;         // linear mix level
  double detune_cents;  // fixed offset, for chorus against another oscillator
  double duty;          // high fraction of a pulse wave, 0 to 1
};

struct synth_instr_t {
  std::string name;                // what tracks call it by
  synth_osc_t osc[SYNTH_OSC_MAX];  // the tone
  int osc_cnt;                     // oscillators in use
  double noise;                    // white noise level beside the oscillators
  double noise_decay;    // its decay time constant in seconds; 0 = follows the envelope only
  double attack;         // seconds from silence to full level
  double decay;          // time constant in seconds of the fall to the sustain level
  double sustain;        // level held while the note is on, 0 to 1
  double release;        // seconds from note-off to silence
  double sweep_semis;    // pitch starts this far off the note ...
  double sweep_time;     // ... and glides to it with this time constant (seconds)
  double vibrato_cents;  // vibrato depth
  double vibrato_rate;   // vibrato speed in Hz
  double vibrato_delay;  // seconds until the vibrato is at full depth
  double lowpass;        // one-pole low-pass corner in Hz, 0 = off
  double highpass;       // one-pole high-pass corner in Hz, 0 = off
  double gain;           // linear level of the whole instrument
  double pan;            // -1 left to 1 right
  double gate;           // fraction of a note's length it is held before release
  double echo_beats;     // ping-pong echo delay in beats, 0 = no echo
  double echo_feedback;  // echo repeat level, below 1
  double echo_level;     // level of the first echo
};

struct synth_note_t {
  int instr;        // index into synth_score_t::instrs
  double beat;      // start
  double beats;     // written length
  double pitch;     // MIDI number, 60 = c4
  double velocity;  // 0 to 1
  int line;         // where it was written, for messages
};

struct synth_score_t {
  std::string path;  // the file read, for messages
  double tempo;      // beats per minute
  double length;     // beats; the loop period of a looping piece; 0 = until the last note ends
  int meter;         // beats per bar, checked at "|" tokens
  bool loop;         // the piece repeats: tails wrap around to its start
  double peak_db;    // the loudest sample after normalising, dBFS
  std::vector<synth_instr_t> instrs;  // in order of definition
  std::vector<synth_note_t> notes;    // in order of writing
};

// Reads and checks the score at path; any error is fatal and names the line.
void synth_score_read(const char *path, synth_score_t *score);

// Prints "Fatal error: " and the formatted message to stderr and exits with status 1.
[[noreturn]] void synth_fatal(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
