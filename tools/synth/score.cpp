// Score reader: line-oriented, so that every message can name the line that
// caused it. Patterns are kept as token lists and expanded when a track
// ends, which makes transposition and repeats plain recursion.
//
// [SECTION] words: messages, numbers, value counts, pitches
// [SECTION] playing: notes, repeats, patterns, bar lines
// [SECTION] instruments: oscillators, the settings table, defaults, lookup by name
// [SECTION] lines outside a block: the directives
// [SECTION] blocks: the reader's state, one line at a time, the whole-score checks
#include "score.hpp"

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace {

struct token_t {
  std::string text;
  int line;
};

using tokens_t = std::vector<token_t>;

struct cursor_t {
  int instr;        // instrument of the track
  double beat;      // where the next note starts
  double beats;     // current length, carried on to the following notes
  double velocity;  // current velocity, carried on likewise
};

// Patterns may use patterns; the bound stops a pattern that names itself.
constexpr int PATTERN_DEPTH_MAX = 16;

const char *g_path = "";

// [SECTION] words

[[noreturn]] void fail_at(int line, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

void fail_at(int line, const char *fmt, ...)
{
  char msg[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(msg, sizeof msg, fmt, ap);
  va_end(ap);
  synth_fatal("%s:%d: %s\n", g_path, line, msg);
}

double to_number(const std::string &word, int line)
{
  // Fractions such as 1/3 keep triplets exact enough to land on bar lines.
  const char *s = word.c_str();
  char *end = nullptr;
  double value = strtod(s, &end);
  if (end == s)
    fail_at(line, "\"%s\" is not a number", s);
  if (*end == '/') {
    const char *den_s = end + 1;
    double den = strtod(den_s, &end);
    if (end == den_s || den == 0.0)
      fail_at(line, "\"%s\" is not a number", s);
    value /= den;
  }
  if (*end != '\0' || !std::isfinite(value))
    fail_at(line, "\"%s\" is not a number", s);
  return value;
}

double number_in(const std::vector<std::string> &words, size_t i, double lo, double hi, int line)
{
  if (i >= words.size())
    fail_at(line, "\"%s\" needs more values", words[0].c_str());
  double value = to_number(words[i], line);
  if (value < lo || value > hi)
    fail_at(line, "%s: %s is outside %g to %g", words[0].c_str(), words[i].c_str(), lo, hi);
  return value;
}

void expect_count(const std::vector<std::string> &words, size_t lo, size_t hi, int line)
{
  if (words.size() < lo || words.size() > hi)
    fail_at(line, "\"%s\" takes %zu to %zu values", words[0].c_str(), lo - 1, hi - 1);
}

int parse_pitch(const std::string &text, int line)
{
  static const int semitone[7] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
  const char *s = text.c_str();
  if (*s < 'a' || *s > 'g')
    fail_at(line, "\"%s\" is not a note", s);
  int pitch = semitone[*s - 'a'];
  s++;
  if (*s == '#') {
    pitch++;
    s++;
  } else if (*s == 'b' && s[1] != '\0') {
    pitch--;
    s++;
  }
  if (*s < '0' || *s > '9' || s[1] != '\0')
    fail_at(line, "\"%s\" is not a note", text.c_str());
  return pitch + 12 * (*s - '0' + 1);
}

// [SECTION] playing

void play_note(synth_score_t *score, const token_t &tok, int transpose, cursor_t *cur)
{
  std::string head = tok.text;
  size_t bang = head.find('!');
  if (bang != std::string::npos) {
    cur->velocity = to_number(head.substr(bang + 1), tok.line);
    if (cur->velocity <= 0.0 || cur->velocity > 1.0)
      fail_at(tok.line, "velocity outside 0 to 1 in \"%s\"", tok.text.c_str());
    head.erase(bang);
  }
  size_t colon = head.find(':');
  if (colon != std::string::npos) {
    cur->beats = to_number(head.substr(colon + 1), tok.line);
    if (cur->beats <= 0.0)
      fail_at(tok.line, "length must be positive in \"%s\"", tok.text.c_str());
    head.erase(colon);
  }
  if (head != "r") {
    size_t from = 0;
    for (;;) {
      size_t plus = head.find('+', from);
      std::string name =
          head.substr(from, plus == std::string::npos ? std::string::npos : plus - from);
      synth_note_t note = {cur->instr,    cur->beat,
                           cur->beats,    double(parse_pitch(name, tok.line) + transpose),
                           cur->velocity, tok.line};
      score->notes.push_back(note);
      if (plus == std::string::npos)
        break;
      from = plus + 1;
    }
  }
  cur->beat += cur->beats;
}

using patterns_t = std::map<std::string, tokens_t>;

void play(synth_score_t *score, const patterns_t &patterns, const tokens_t &toks, size_t from,
          size_t to, int transpose, int depth, cursor_t *cur);

// Plays "[ ... ]xN" opening at toks[open] N times; returns the index of its "]xN".
size_t play_repeat(synth_score_t *score, const patterns_t &patterns, const tokens_t &toks,
                   size_t open, size_t to, int transpose, int depth, cursor_t *cur)
{
  int level = 1;
  size_t j = open + 1;
  for (; j < to; j++) {
    if (toks[j].text == "[")
      level++;
    if (toks[j].text[0] == ']' && --level == 0)
      break;
  }
  if (j == to)
    fail_at(toks[open].line, "\"[\" without a closing \"]xN\"");
  const std::string &close = toks[j].text;
  if (close.size() < 3 || close[1] != 'x')
    fail_at(toks[j].line, "a repeat ends in \"]xN\", not \"%s\"", close.c_str());
  double times = to_number(close.substr(2), toks[j].line);
  if (times < 1 || times > 64 || times != std::floor(times))
    fail_at(toks[j].line, "bad repeat count \"%s\"", close.c_str());
  for (int k = 0; k < int(times); k++)
    play(score, patterns, toks, open + 1, j, transpose, depth, cur);
  return j;
}

// Plays "$name", "$name+N" or "$name-N": the pattern, transposed by N semitones.
void play_pattern(synth_score_t *score, const patterns_t &patterns, const token_t &tok,
                  int transpose, int depth, cursor_t *cur)
{
  const std::string &t = tok.text;
  size_t sign = t.find_first_of("+-", 1);
  std::string name = t.substr(1, sign == std::string::npos ? std::string::npos : sign - 1);
  int shift = sign == std::string::npos ? 0 : int(to_number(t.substr(sign), tok.line));
  auto found = patterns.find(name);
  if (found == patterns.end())
    fail_at(tok.line, "no pattern \"%s\" (patterns are defined before use)", name.c_str());
  if (depth >= PATTERN_DEPTH_MAX)
    fail_at(tok.line, "patterns nest deeper than %d", PATTERN_DEPTH_MAX);
  play(score, patterns, found->second, 0, found->second.size(), transpose + shift, depth + 1, cur);
}

// Plays toks[from, to) into score's notes from the cursor on, transposed by
// transpose semitones, depth patterns deep.
void play(synth_score_t *score, const patterns_t &patterns, const tokens_t &toks, size_t from,
          size_t to, int transpose, int depth, cursor_t *cur)
{
  for (size_t i = from; i < to; i++) {
    const token_t &tok = toks[i];
    const std::string &t = tok.text;
    if (t == "[") {
      i = play_repeat(score, patterns, toks, i, to, transpose, depth, cur);
    } else if (t[0] == ']') {
      fail_at(tok.line, "\"%s\" without an opening \"[\"", t.c_str());
    } else if (t == "|") {
      double bar = cur->beat / score->meter;
      if (std::fabs(bar - std::round(bar)) > 1e-6)
        fail_at(tok.line, "bar line at beat %g is not on a bar of %d beats", cur->beat,
                score->meter);
    } else if (t[0] == '$') {
      play_pattern(score, patterns, tok, transpose, depth, cur);
    } else {
      play_note(score, tok, transpose, cur);
    }
  }
}

// [SECTION] instruments

int wave_named(const std::string &name, int line)
{
  static const char *const waves[] = {"sine", "triangle", "saw", "pulse"};  // in synth_wave_e order
  int wave = -1;
  for (int k = 0; k < 4; k++)
    if (name == waves[k])
      wave = k;
  if (name == "square")
    wave = SYNTH_PULSE;
  if (wave < 0)
    fail_at(line, "unknown wave \"%s\" (sine, triangle, saw, square, pulse)", name.c_str());
  return wave;
}

// "osc WAVE [NAME VALUE]...": the settings come in pairs, in any order.
void osc_line(synth_instr_t *in, const std::vector<std::string> &w, int line)
{
  if (in->osc_cnt == SYNTH_OSC_MAX)
    fail_at(line, "more than %d oscillators", SYNTH_OSC_MAX);
  if (w.size() < 2 || w.size() % 2 != 0)
    fail_at(line, "osc takes a wave and then name-value pairs");
  synth_osc_t osc = {SYNTH_SINE, 1.0, 1.0, 0.0, 0.5};
  osc.wave = wave_named(w[1], line);
  for (size_t k = 2; k < w.size(); k += 2) {
    if (w[k] == "ratio")
      osc.ratio = number_in(w, k + 1, 0.01, 32.0, line);
    else if (w[k] == "level")
      osc.level = number_in(w, k + 1, 0.0, 4.0, line);
    else if (w[k] == "detune")
      osc.detune_cents = number_in(w, k + 1, -1200.0, 1200.0, line);
    else if (w[k] == "duty")
      osc.duty = number_in(w, k + 1, 0.01, 0.99, line);
    else
      fail_at(line, "unknown oscillator setting \"%s\"", w[k].c_str());
  }
  in->osc[in->osc_cnt++] = osc;
}

// Every other instrument setting is a keyword and up to four numbers in a
// fixed order, each with its range; the trailing values that a setting may
// leave out (words_min below words_max) are 0 when left out.
struct setting_value_t {
  double synth_instr_t::*field;
  double lo, hi;
};

struct setting_t {
  const char *key;
  size_t words_min, words_max;  // counting the keyword
  setting_value_t values[4];    // words_max - 1 of them
};

const setting_t SETTINGS[] = {
    {"noise", 2, 3, {{&synth_instr_t::noise, 0.0, 4.0}, {&synth_instr_t::noise_decay, 0.0, 10.0}}},
    {"envelope",
     5,
     5,
     {{&synth_instr_t::attack, 0.001, 10.0},
      {&synth_instr_t::decay, 0.001, 10.0},
      {&synth_instr_t::sustain, 0.0, 1.0},
      {&synth_instr_t::release, 0.002, 10.0}}},
    {"sweep",
     3,
     3,
     {{&synth_instr_t::sweep_semis, -48.0, 48.0}, {&synth_instr_t::sweep_time, 0.001, 10.0}}},
    {"vibrato",
     3,
     4,
     {{&synth_instr_t::vibrato_cents, 0.0, 200.0},
      {&synth_instr_t::vibrato_rate, 0.0, 30.0},
      {&synth_instr_t::vibrato_delay, 0.0, 10.0}}},
    {"lowpass", 2, 2, {{&synth_instr_t::lowpass, 10.0, 20000.0}}},
    {"highpass", 2, 2, {{&synth_instr_t::highpass, 10.0, 20000.0}}},
    {"gain", 2, 2, {{&synth_instr_t::gain, 0.0, 4.0}}},
    {"pan", 2, 2, {{&synth_instr_t::pan, -1.0, 1.0}}},
    {"gate", 2, 2, {{&synth_instr_t::gate, 0.05, 1.0}}},
    {"echo",
     4,
     4,
     {{&synth_instr_t::echo_beats, 0.01, 8.0},
      {&synth_instr_t::echo_feedback, 0.0, 0.9},
      {&synth_instr_t::echo_level, 0.0, 1.0}}},
};

// Reads one line inside an instrument block (other than its "end").
void instrument_line(synth_instr_t *in, const std::vector<std::string> &w, int line)
{
  if (w[0] == "osc") {
    osc_line(in, w, line);
    return;
  }
  for (const setting_t &setting : SETTINGS) {
    if (w[0] != setting.key)
      continue;
    expect_count(w, setting.words_min, setting.words_max, line);
    for (size_t k = 1; k < setting.words_max; k++) {
      const setting_value_t &value = setting.values[k - 1];
      in->*value.field = k < w.size() ? number_in(w, k, value.lo, value.hi, line) : 0.0;
    }
    return;
  }
  fail_at(line, "unknown instrument setting \"%s\"", w[0].c_str());
}

synth_instr_t instrument_defaults(const std::string &name)
{
  synth_instr_t in = {};
  in.name = name;
  in.attack = 0.005;
  in.decay = 0.1;
  in.sustain = 1.0;
  in.release = 0.05;
  in.gain = 1.0;
  in.gate = 0.9;
  return in;
}

int instrument_index(const synth_score_t *score, const std::string &name, int line)
{
  for (size_t k = 0; k < score->instrs.size(); k++)
    if (score->instrs[k].name == name)
      return int(k);
  fail_at(line, "no instrument \"%s\" (instruments are defined before use)", name.c_str());
}

// [SECTION] lines outside a block

// Reads a line outside any block. Returns 0 when the line is done with, or
// the index of the first note token when it opens a block.
size_t top_line(synth_score_t *score, const std::vector<std::string> &w, int line)
{
  const std::string &key = w[0];
  if (key == "tempo") {
    expect_count(w, 2, 2, line);
    score->tempo = number_in(w, 1, 20.0, 600.0, line);
  } else if (key == "length") {
    expect_count(w, 2, 2, line);
    score->length = number_in(w, 1, 0.0, 4096.0, line);
  } else if (key == "meter") {
    expect_count(w, 2, 2, line);
    score->meter = int(number_in(w, 1, 1.0, 32.0, line));
  } else if (key == "loop") {
    expect_count(w, 1, 1, line);
    score->loop = true;
  } else if (key == "peak") {
    expect_count(w, 2, 2, line);
    score->peak_db = number_in(w, 1, -40.0, -1.0, line);
  } else if (key == "instrument") {
    expect_count(w, 2, 2, line);
    for (const synth_instr_t &other : score->instrs)
      if (other.name == w[1])
        fail_at(line, "instrument \"%s\" defined twice", w[1].c_str());
    return 2;
  } else if (key == "pattern" || key == "track") {
    if (w.size() < 2)
      fail_at(line, "\"%s\" needs a name", key.c_str());
    return 2;
  } else if (key == "end") {
    fail_at(line, "\"end\" outside a block");
  } else {
    fail_at(line, "unknown directive \"%s\"", key.c_str());
  }
  return 0;
}

// [SECTION] blocks

// Where the reader is between lines: which block is open, and what it has
// gathered of it so far.
struct reader_t {
  enum {
    TOP,
    INSTRUMENT,
    PATTERN,
    TRACK
  } block;
  int block_line;            // where the open block began, for messages
  synth_instr_t instr;       // the instrument being defined
  std::string pattern_name;  // the pattern being defined
  tokens_t body;             // note tokens of the open pattern or track
  cursor_t cursor;           // the open track's position
  patterns_t patterns;       // the patterns defined so far
};

void score_defaults(synth_score_t *score, const char *path)
{
  score->path = path;
  g_path = score->path.c_str();
  score->tempo = 120.0;
  score->length = 0.0;
  score->meter = 4;
  score->loop = false;
  score->peak_db = -6.0;
}

// Splits a line into words, dropping its comment. A comment starts with "#"
// at the start of a word; inside a word "#" is a sharp.
std::vector<std::string> line_words(std::string *text)
{
  for (size_t k = 0; k < text->size(); k++) {
    if ((*text)[k] == '#' && (k == 0 || isspace((unsigned char)(*text)[k - 1]))) {
      text->erase(k);
      break;
    }
  }
  std::istringstream words_in(*text);
  std::vector<std::string> w;
  for (std::string word; words_in >> word;)
    w.push_back(word);
  return w;
}

// Opens the instrument, pattern or track block that top_line accepted.
void open_block(reader_t *rd, const synth_score_t *score, const std::vector<std::string> &w,
                int line)
{
  rd->block_line = line;
  rd->body.clear();
  if (w[0] == "instrument") {
    rd->block = reader_t::INSTRUMENT;
    rd->instr = instrument_defaults(w[1]);
  } else if (w[0] == "pattern") {
    if (rd->patterns.count(w[1]))
      fail_at(line, "pattern \"%s\" defined twice", w[1].c_str());
    rd->block = reader_t::PATTERN;
    rd->pattern_name = w[1];
  } else {
    rd->block = reader_t::TRACK;
    rd->cursor = {instrument_index(score, w[1], line), 0.0, 1.0, 0.8};
  }
}

// Reads a line inside an instrument block; its "end" adds the instrument.
void instrument_block_line(reader_t *rd, synth_score_t *score, const std::vector<std::string> &w,
                           int line)
{
  if (w[0] != "end") {
    instrument_line(&rd->instr, w, line);
    return;
  }
  expect_count(w, 1, 1, line);
  if (rd->instr.osc_cnt == 0 && rd->instr.noise == 0.0)
    fail_at(rd->block_line, "instrument \"%s\" makes no sound", rd->instr.name.c_str());
  score->instrs.push_back(rd->instr);
  rd->block = reader_t::TOP;
}

// Adds one word of a pattern or track to its body. Brackets may touch the
// notes: "[a4" and "c5]x4" are read as "[" "a4" and "c5" "]x4".
void body_word(tokens_t *body, std::string word, int line)
{
  while (word.size() > 1 && word[0] == '[') {
    body->push_back({"[", line});
    word.erase(0, 1);
  }
  size_t close = word.find(']');
  if (close != std::string::npos && close > 0) {
    body->push_back({word.substr(0, close), line});
    word.erase(0, close);
  }
  body->push_back({word, line});
}

// Reads the words of a pattern or track line from first on. Returns whether
// the line ends the block with "end".
bool body_line(reader_t *rd, const std::vector<std::string> &w, size_t first, int line)
{
  bool closed = false;
  for (size_t k = first; k < w.size(); k++) {
    if (w[k] == "end") {
      if (k + 1 != w.size())
        fail_at(line, "\"end\" must be the last word on its line");
      closed = true;
    } else {
      body_word(&rd->body, w[k], line);
    }
  }
  return closed;
}

// A finished pattern is kept for later tracks; a finished track is played
// into the score's notes at once.
void close_body(reader_t *rd, synth_score_t *score)
{
  if (rd->block == reader_t::PATTERN)
    rd->patterns[rd->pattern_name] = rd->body;
  else
    play(score, rd->patterns, rd->body, 0, rd->body.size(), 0, 0, &rd->cursor);
  rd->block = reader_t::TOP;
}

// The checks that need the whole score.
void check_notes(const synth_score_t *score)
{
  if (score->notes.empty())
    fail_at(1, "the score has no notes");
  if (score->loop && score->length <= 0.0)
    fail_at(1, "a looping piece needs a length");
  for (const synth_note_t &note : score->notes)
    if (score->length > 0.0 && note.beat >= score->length - 1e-9)
      fail_at(note.line, "a note starts at beat %g, after the end at beat %g", note.beat,
              score->length);
}

}  // namespace

void synth_fatal(const char *fmt, ...)
{
  fputs("Fatal error: ", stderr);
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
  exit(1);
}

void synth_score_read(const char *path, synth_score_t *score)
{
  std::ifstream in(path);
  if (!in)
    synth_fatal("Unable to read score %s\n", path);
  score_defaults(score, path);

  reader_t rd = {};
  rd.block = reader_t::TOP;
  std::string text;
  for (int line = 1; std::getline(in, text); line++) {
    std::vector<std::string> w = line_words(&text);
    if (w.empty())
      continue;
    size_t first = 0;  // where note tokens begin on a pattern or track line
    if (rd.block == reader_t::TOP) {
      first = top_line(score, w, line);
      if (first == 0)
        continue;
      open_block(&rd, score, w, line);
      if (rd.block == reader_t::INSTRUMENT)
        continue;
    } else if (rd.block == reader_t::INSTRUMENT) {
      instrument_block_line(&rd, score, w, line);
      continue;
    }
    // A pattern or track may open, go on and end on the same line.
    if (body_line(&rd, w, first, line))
      close_body(&rd, score);
  }
  if (rd.block != reader_t::TOP)
    fail_at(rd.block_line, "block is not closed with \"end\"");
  check_notes(score);
}
