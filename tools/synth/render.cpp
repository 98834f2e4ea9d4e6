// Voices are rendered in double precision straight into per-instrument
// buses; the only float conversion is the last step.
#include "render.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr double PI = 3.14159265358979323846;

// Echo tails are cut once the repeats fall below this level.
constexpr double ECHO_FLOOR = 1e-4;

// One-shot pieces fade over their last few milliseconds, so echoes cut at the
// end cannot leave a step.
constexpr double END_FADE_SECONDS = 0.005;

// Corner of the DC blocker: well below any note, above the drift that a
// pulse wave's envelope or a pitch sweep leaves behind.
constexpr double DC_CORNER_HZ = 12.0;

struct rng_t {
  uint32_t state;
};

// xorshift32: small, fast and the same on every machine.
double rng_next(rng_t *rng)
{
  uint32_t x = rng->state;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  rng->state = x;
  return double(x) / 2147483648.0 - 1.0;
}

// PolyBLEP: rounds off the step of a saw or pulse wave over one sample on
// either side, which keeps the high notes from aliasing into audible whistles.
double poly_blep(double t, double dt)
{
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1.0;
  }
  if (t > 1.0 - dt) {
    t = (t - 1.0) / dt;
    return t * t + t + t + 1.0;
  }
  return 0.0;
}

double wave_sine(const synth_osc_t *, double phase, double)
{
  return std::sin(2.0 * PI * phase);
}

double wave_triangle(const synth_osc_t *, double phase, double)
{
  return 1.0 - 4.0 * std::fabs(phase - 0.5);
}

double wave_saw(const synth_osc_t *, double phase, double dt)
{
  return 2.0 * phase - 1.0 - poly_blep(phase, dt);
}

double wave_pulse(const synth_osc_t *osc, double phase, double dt)
{
  double shifted = phase + 1.0 - osc->duty;
  shifted -= std::floor(shifted);
  double v = (phase < osc->duty ? 1.0 : -1.0) + poly_blep(phase, dt) - poly_blep(shifted, dt);
  return v - (2.0 * osc->duty - 1.0);  // a narrow pulse carries DC
}

// One sample of a wave at phase 0..1, advancing dt per sample; in synth_wave_e order.
double (*const WAVES[])(const synth_osc_t *, double, double) = {wave_sine, wave_triangle, wave_saw,
                                                                wave_pulse};
static_assert(sizeof WAVES / sizeof WAVES[0] == SYNTH_PULSE + 1, "one function per synth_wave_e");

// Level while the note is held: linear attack, exponential fall to sustain.
double envelope_on(const synth_instr_t *in, double t)
{
  if (t < in->attack)
    return t / in->attack;
  return in->sustain + (1.0 - in->sustain) * std::exp(-(t - in->attack) / in->decay);
}

double midi_hz(double pitch)
{
  return 440.0 * std::pow(2.0, (pitch - 69.0) / 12.0);
}

// Frames from the note's start until its release has finished.
long voice_frames(const synth_instr_t *in, double held_seconds)
{
  return long(std::ceil((held_seconds + in->release) * SYNTH_RATE)) + 1;
}

// What a voice carries from one sample to the next.
struct voice_t {
  rng_t rng;                    // its own noise, seeded per note
  double phase[SYNTH_OSC_MAX];  // of each oscillator, 0 to 1
  double lp_a, hp_a;            // one-pole filter coefficients
  double lp, hp_lp;             // the low-pass output, and the low-pass inside the high-pass
};

voice_t voice_start(const synth_instr_t *in, uint32_t seed)
{
  voice_t voice = {};
  voice.rng = {seed ? seed : 0x9e3779b9u};
  voice.lp_a = in->lowpass > 0.0 ? 1.0 - std::exp(-2.0 * PI * in->lowpass / SYNTH_RATE) : 1.0;
  voice.hp_a = in->highpass > 0.0 ? 1.0 - std::exp(-2.0 * PI * in->highpass / SYNTH_RATE) : 0.0;
  return voice;
}

// Level t seconds into a note held for held seconds; release_from is the
// level at the release.
double voice_envelope(const synth_instr_t *in, double held, double release_from, double t)
{
  if (t < held)
    return envelope_on(in, t);
  // A cubic curve reaches exactly zero, so the note ends without a step.
  double x = std::min(1.0, (t - held) / in->release);
  return release_from * (1.0 - x) * (1.0 - x) * (1.0 - x);
}

// Frequency t seconds into a note of base_hz, bent by the sweep and the vibrato.
double voice_hz(const synth_instr_t *in, double base_hz, double t)
{
  double semis = 0.0;
  if (in->sweep_semis != 0.0)
    semis += in->sweep_semis * std::exp(-t / in->sweep_time);
  if (in->vibrato_cents > 0.0) {
    double depth = in->vibrato_delay > 0.0 ? std::min(1.0, t / in->vibrato_delay) : 1.0;
    semis += depth * in->vibrato_cents / 100.0 * std::sin(2.0 * PI * in->vibrato_rate * t);
  }
  return base_hz * std::pow(2.0, semis / 12.0);
}

// One sample of the oscillators' mix at hz; advances their phases.
double voice_tone(const synth_instr_t *in, double hz, double *phase)
{
  double v = 0.0;
  for (int k = 0; k < in->osc_cnt; k++) {
    const synth_osc_t *osc = &in->osc[k];
    double dt =
        std::min(0.5, hz * osc->ratio * std::pow(2.0, osc->detune_cents / 1200.0) / SYNTH_RATE);
    v += osc->level * WAVES[osc->wave](osc, phase[k], dt);
    phase[k] += dt;
    phase[k] -= std::floor(phase[k]);
  }
  return v;
}

// One sample of the noise, t seconds into the note.
double voice_noise(const synth_instr_t *in, rng_t *rng, double t)
{
  double n = in->noise * rng_next(rng);
  if (in->noise_decay > 0.0)
    n *= std::exp(-t / in->noise_decay);
  return n;
}

// Runs one sample through the instrument's filters, those it has.
double voice_filter(const synth_instr_t *in, voice_t *voice, double v)
{
  if (in->lowpass > 0.0) {
    voice->lp += voice->lp_a * (v - voice->lp);
    v = voice->lp;
  }
  if (in->highpass > 0.0) {
    voice->hp_lp += voice->hp_a * (v - voice->hp_lp);
    v -= voice->hp_lp;
  }
  return v;
}

// Adds one note, held for held seconds, into bus from frame start on.
void render_voice(const synth_instr_t *in, const synth_note_t *note, double held, uint32_t seed,
                  double *bus, long start)
{
  voice_t voice = voice_start(in, seed);
  double base_hz = midi_hz(note->pitch);
  // Constant-power pan, scaled so that the centre keeps unit level.
  double angle = (in->pan + 1.0) * PI / 4.0;
  double left = std::cos(angle) * std::sqrt(2.0), right = std::sin(angle) * std::sqrt(2.0);
  double release_from = envelope_on(in, held);
  double level = in->gain * note->velocity;
  long frames = voice_frames(in, held);

  for (long i = 0; i < frames; i++) {
    double t = double(i) / SYNTH_RATE;
    double v = voice_tone(in, voice_hz(in, base_hz, t), voice.phase);
    if (in->noise > 0.0)
      v += voice_noise(in, &voice.rng, t);
    v = voice_filter(in, &voice, v);
    v *= voice_envelope(in, held, release_from, t) * level;
    bus[2 * (start + i)] += v * left;
    bus[2 * (start + i) + 1] += v * right;
  }
}

// Ping-pong echo: the first repeat comes from the left, the next from the
// right, and so on, each one feedback times quieter.
void apply_echo(const synth_instr_t *in, double spb, std::vector<double> *bus)
{
  long delay = long(std::lround(in->echo_beats * spb * SYNTH_RATE));
  long frames = long(bus->size() / 2);
  std::vector<double> echo_l(frames, 0.0), echo_r(frames, 0.0);
  for (long i = delay; i < frames; i++) {
    double dry = 0.5 * ((*bus)[2 * (i - delay)] + (*bus)[2 * (i - delay) + 1]);
    echo_l[i] = in->echo_level * dry + in->echo_feedback * echo_r[i - delay];
    echo_r[i] = in->echo_feedback * echo_l[i - delay];
  }
  for (long i = 0; i < frames; i++) {
    (*bus)[2 * i] += echo_l[i];
    (*bus)[2 * i + 1] += echo_r[i];
  }
}

// How long after the last note an instrument's echo is still audible.
double echo_seconds(const synth_instr_t *in, double spb)
{
  if (in->echo_beats <= 0.0 || in->echo_level <= 0.0)
    return 0.0;
  double repeats =
      in->echo_feedback > 0.0 ? std::log(ECHO_FLOOR) / std::log(in->echo_feedback) : 1.0;
  return (repeats * 2.0 + 2.0) * in->echo_beats * spb;
}

// One-pole DC blocker over both channels. For a loop it runs twice round
// the circle, so the state at the seam is the one the music left there.
void remove_dc(std::vector<double> *mix, bool loop)
{
  double r = std::exp(-2.0 * PI * DC_CORNER_HZ / SYNTH_RATE);
  long frames = long(mix->size() / 2);
  for (int ch = 0; ch < 2; ch++) {
    double x_prev = 0.0, y_prev = 0.0;
    if (loop) {
      for (long i = 0; i < frames; i++) {
        double x = (*mix)[2 * i + ch];
        y_prev = x - x_prev + r * y_prev;
        x_prev = x;
      }
    }
    for (long i = 0; i < frames; i++) {
      double x = (*mix)[2 * i + ch];
      double y = x - x_prev + r * y_prev;
      x_prev = x;
      y_prev = y;
      (*mix)[2 * i + ch] = y;
    }
  }
}

// The frame a beat falls on, at spb seconds per beat.
long beat_frame(double beat, double spb)
{
  return long(std::lround(beat * spb * SYNTH_RATE));
}

// Frames until the last note and the longest echo have died away; fatal if a
// note of a one-shot piece with a length still sounds at its end.
long sound_extent(const synth_score_t *score, double spb)
{
  long extent = 0;
  for (const synth_note_t &note : score->notes) {
    const synth_instr_t *in = &score->instrs[note.instr];
    long end = beat_frame(note.beat, spb) + voice_frames(in, note.beats * in->gate * spb);
    if (!score->loop && score->length > 0.0 && end > beat_frame(score->length, spb))
      synth_fatal("%s:%d: the note at beat %g still sounds at the end (beat %g); shorten it or its "
                  "release\n",
                  score->path.c_str(), note.line, note.beat, score->length);
    extent = std::max(extent, end);
  }
  double echo_max = 0.0;
  for (const synth_instr_t &in : score->instrs)
    echo_max = std::max(echo_max, echo_seconds(&in, spb));
  return extent + long(std::ceil(echo_max * SYNTH_RATE));
}

// Renders every instrument's notes into a bus of its own, so that its echo
// repeats only it, and adds the buses into mix.
void mix_instruments(const synth_score_t *score, double spb, std::vector<double> *mix)
{
  std::vector<double> bus;
  for (size_t k = 0; k < score->instrs.size(); k++) {
    const synth_instr_t *in = &score->instrs[k];
    bus.assign(mix->size(), 0.0);
    for (size_t n = 0; n < score->notes.size(); n++) {
      const synth_note_t *note = &score->notes[n];
      if (note->instr != int(k))
        continue;
      long start = beat_frame(note->beat, spb);
      render_voice(in, note, note->beats * in->gate * spb, uint32_t(n * 2654435761u + 12345u),
                   bus.data(), start);
    }
    if (in->echo_beats > 0.0 && in->echo_level > 0.0)
      apply_echo(in, spb, &bus);
    for (size_t i = 0; i < mix->size(); i++)
      (*mix)[i] += bus[i];
  }
}

// Adds everything past a loop's end onto its start, where the next pass
// plays it, and cuts the mix to the loop.
void wrap_loop(std::vector<double> *mix, long frames)
{
  long work = long(mix->size() / 2);
  for (long i = frames; i < work; i++) {
    (*mix)[2 * (i % frames)] += (*mix)[2 * i];
    (*mix)[2 * (i % frames) + 1] += (*mix)[2 * i + 1];
  }
  mix->resize(2 * size_t(frames));
}

void fade_end(std::vector<double> *mix)
{
  long frames = long(mix->size() / 2);
  long fade = std::min(frames, long(END_FADE_SECONDS * SYNTH_RATE));
  for (long i = 0; i < fade; i++) {
    double g = double(i) / double(fade);
    (*mix)[2 * (frames - 1 - i)] *= g;
    (*mix)[2 * (frames - 1 - i) + 1] *= g;
  }
}

// Scales mix so that its loudest sample is at the score's peak, into pcm.
void normalise(const synth_score_t *score, const std::vector<double> &mix, std::vector<float> *pcm)
{
  double peak = 0.0;
  for (double v : mix)
    peak = std::max(peak, std::fabs(v));
  if (peak <= 0.0)
    synth_fatal("%s: the piece is silent\n", score->path.c_str());
  double scale = std::pow(10.0, score->peak_db / 20.0) / peak;
  pcm->resize(mix.size());
  for (size_t i = 0; i < mix.size(); i++)
    (*pcm)[i] = float(mix[i] * scale);
}

}  // namespace

void synth_render(const synth_score_t *score, std::vector<float> *pcm)
{
  double spb = 60.0 / score->tempo;
  long extent = sound_extent(score, spb);
  long frames = score->length > 0.0 ? beat_frame(score->length, spb) : extent;

  // Rendered to whichever is longer, the piece or its sound.
  std::vector<double> mix(2 * size_t(std::max(frames, extent)), 0.0);
  mix_instruments(score, spb, &mix);
  if (score->loop)
    wrap_loop(&mix, frames);
  else
    mix.resize(2 * size_t(frames));
  remove_dc(&mix, score->loop);
  if (!score->loop)
    fade_end(&mix);
  normalise(score, mix, pcm);
}
