// The rendered assets, checked the way the game uses them: loaded by
// SDL_mixer, and decoded to samples to check lengths, levels, the game
// tune's loop seam and the logo tune's silent end. The generator itself is
// run from here to check that it is deterministic and that it rejects
// broken scores with a message naming the line.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_mixer.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct sound_t {
  int rate = 0;
  int channels = 0;
  std::vector<float> pcm;  // interleaved, -1..1

  long frames() const { return channels ? long(pcm.size()) / channels : 0; }
  double seconds() const { return rate ? double(frames()) / rate : 0.0; }
  float at(long frame, int ch) const { return pcm[size_t(frame * channels + ch)]; }
};

const char *const MUSIC[] = {"quietmoth.ogg", "game.ogg"};
const char *const EFFECTS[] = {"baby-held.wav", "baby-rescued.wav", "baby-infected.wav", "adult-infected.wav"};

constexpr double CLIP_DB = -1.0;  // no sample louder than this, in dBFS

std::string asset(const char *name) { return std::string(ORB_ASSETS_DIR) + "/" + name; }

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double db(double linear) { return 20.0 * std::log10(std::max(linear, 1e-12)); }

sound_t read_ogg(const std::string &path) {
  sound_t s;
  OggVorbis_File vf;
  if (ov_fopen(path.c_str(), &vf) != 0) {
    ADD_FAILURE() << "cannot decode " << path;
    return s;
  }
  vorbis_info *vi = ov_info(&vf, -1);
  s.rate = int(vi->rate);
  s.channels = vi->channels;
  for (;;) {
    float **buf = nullptr;
    int section = 0;
    long n = ov_read_float(&vf, &buf, 4096, &section);
    if (n <= 0) {
      EXPECT_EQ(n, 0) << "decode error in " << path;
      break;
    }
    for (long i = 0; i < n; i++)
      for (int c = 0; c < s.channels; c++) s.pcm.push_back(buf[c][i]);
  }
  ov_clear(&vf);
  return s;
}

// Decoded by SDL itself, as the game's mixer will; it refuses a damaged header.
sound_t read_wav(const std::string &path) {
  sound_t s;
  SDL_AudioSpec have;
  Uint8 *buf = nullptr;
  Uint32 len = 0;
  if (!SDL_LoadWAV(path.c_str(), &have, &buf, &len)) {
    ADD_FAILURE() << path << ": " << SDL_GetError();
    return s;
  }
  EXPECT_EQ(have.format, AUDIO_S16LSB) << path;
  s.rate = have.freq;
  s.channels = have.channels;
  for (Uint32 i = 0; i + 1 < len; i += 2) s.pcm.push_back(float(int16_t(buf[i] | buf[i + 1] << 8)) / 32768.0f);
  SDL_FreeWAV(buf);
  return s;
}

double peak(const sound_t &s, long from = 0, long to = -1) {
  if (to < 0) to = s.frames();
  double p = 0.0;
  for (long i = from * s.channels; i < to * s.channels; i++) p = std::max(p, double(std::fabs(s.pcm[size_t(i)])));
  return p;
}

double rms(const sound_t &s, long from, long to) {
  double sum = 0.0;
  for (long i = from * s.channels; i < to * s.channels; i++) sum += double(s.pcm[size_t(i)]) * s.pcm[size_t(i)];
  return std::sqrt(sum / double(std::max(1L, (to - from) * s.channels)));
}

long ms(const sound_t &s, double milliseconds) { return long(milliseconds * s.rate / 1000.0); }

void expect_mixer_format(const sound_t &s, const char *name) {
  EXPECT_EQ(s.rate, 44100) << name;
  EXPECT_EQ(s.channels, 2) << name;
  ASSERT_GT(s.frames(), 0) << name;
  EXPECT_LE(db(peak(s)), CLIP_DB) << name << " clips";
}

// Runs a shell command and returns its exit status and everything it printed.
int run(const std::string &command, std::string *output) {
  output->clear();
  FILE *p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output->append(buf, n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string synth(const std::string &score, const std::string &out, int *status) {
  std::string output;
  *status = run(std::string("'") + ORB_SYNTH_PATH + "' '" + score + "' '" + out + "'", &output);
  return output;
}

// ---------------------------------------------------------------------------

TEST(audio_mixer, every_asset_loads_through_sdl_mixer) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_EQ(SDL_Init(SDL_INIT_AUDIO), 0) << SDL_GetError();
  ASSERT_EQ(Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 2048), 0) << Mix_GetError();
  for (const char *name : MUSIC) {
    Mix_Music *music = Mix_LoadMUS(asset(name).c_str());
    EXPECT_NE(music, nullptr) << name << ": " << Mix_GetError();
    if (music) {
      EXPECT_EQ(Mix_GetMusicType(music), MUS_OGG) << name;
      Mix_FreeMusic(music);
    }
  }
  for (const char *name : EFFECTS) {
    Mix_Chunk *chunk = Mix_LoadWAV_RW(SDL_RWFromFile(asset(name).c_str(), "rb"), 1);
    EXPECT_NE(chunk, nullptr) << name << ": " << Mix_GetError();
    if (chunk) {
      // Opened at the files' own format, so nothing was resampled: 4 bytes a frame.
      EXPECT_GT(chunk->alen, 0u) << name;
      EXPECT_LT(chunk->alen / 4, 44100u) << name << " lasts a second or more";
      Mix_FreeChunk(chunk);
    }
  }
  Mix_CloseAudio();
  SDL_Quit();
}

TEST(audio_music, logo_tune_fits_the_logo_screen_and_ends_in_silence) {
  sound_t s = read_ogg(asset("quietmoth.ogg"));
  expect_mixer_format(s, "quietmoth.ogg");
  EXPECT_GE(s.seconds(), 9.5);
  EXPECT_LE(s.seconds(), 10.5);
  // It plays through all three phases of the screen...
  long third = ms(s, 3333.0);
  for (int phase = 0; phase < 3; phase++)
    EXPECT_GT(db(rms(s, phase * third, (phase + 1) * third - ms(s, 500))), -40.0) << "phase " << phase << " is silent";
  // ...and has died away before the screen hands over to the game.
  EXPECT_LT(db(rms(s, s.frames() - ms(s, 200), s.frames())), -60.0) << "the last 200 ms are not silent";
  EXPECT_LT(db(peak(s, s.frames() - ms(s, 200))), -50.0);
}

TEST(audio_music, game_tune_loops_without_a_click_or_a_gap) {
  sound_t s = read_ogg(asset("game.ogg"));
  expect_mixer_format(s, "game.ogg");
  EXPECT_GE(s.seconds(), 30.0);
  EXPECT_LE(s.seconds(), 60.0);
  long n = s.frames();

  // No gap: the music is playing on both sides of the seam.
  EXPECT_GT(db(rms(s, n - ms(s, 50), n)), -40.0) << "the tune fades out before the seam";
  EXPECT_GT(db(rms(s, 0, ms(s, 50))), -40.0) << "the tune fades in after the seam";

  for (int ch = 0; ch < s.channels; ch++) {
    // The step from the last sample to the first is an ordinary step for this piece...
    std::vector<double> steps;
    for (long i = 1; i < n; i++) steps.push_back(std::fabs(s.at(i, ch) - s.at(i - 1, ch)));
    std::nth_element(steps.begin(), steps.begin() + long(steps.size() * 0.99), steps.end());
    double p99 = steps[size_t(steps.size() * 0.99)];
    double seam = std::fabs(s.at(0, ch) - s.at(n - 1, ch));
    EXPECT_LE(seam, p99) << "channel " << ch << ": the seam jumps";

    // ...and no larger than the steps just around it, so it is not heard as a click.
    long side = ms(s, 8.0), core = ms(s, 1.0);
    double around = 0.0, across = 0.0;
    for (long k = -side; k < side; k++) {
      long a = (k + n) % n, b = (k + 1 + n) % n;
      double step = std::fabs(s.at(b, ch) - s.at(a, ch));
      double &widest = k >= -core && k < core ? across : around;
      widest = std::max(widest, step);
    }
    EXPECT_LE(across, 1.5 * around + 1e-4) << "channel " << ch << ": a click at the seam";
  }
}

TEST(audio_effects, effects_are_short_clean_distinct_and_above_the_music) {
  double music_peak = peak(read_ogg(asset("game.ogg")));
  std::vector<std::vector<float>> seen;
  for (const char *name : EFFECTS) {
    sound_t s = read_wav(asset(name));
    expect_mixer_format(s, name);
    EXPECT_GE(s.seconds(), 0.05) << name;
    EXPECT_LT(s.seconds(), 1.0) << name;
    EXPECT_GT(db(peak(s)), db(music_peak) + 1.0) << name << " would drown in the music";
    // Starts and ends at rest, so playing it cannot click.
    for (int ch = 0; ch < s.channels; ch++) {
      EXPECT_LT(std::fabs(s.at(0, ch)), 0.01) << name;
      EXPECT_LT(std::fabs(s.at(s.frames() - 1, ch)), 0.01) << name;
    }
    double mean = 0.0;
    for (float v : s.pcm) mean += v;
    EXPECT_LT(std::fabs(mean / double(s.pcm.size())), 0.01) << name << " carries a DC offset";
    for (const std::vector<float> &other : seen) EXPECT_NE(other, s.pcm) << name << " repeats another effect";
    seen.push_back(s.pcm);
  }
}

// Each synth test works in a directory of its own, removed afterwards.
class audio_synth : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/orb-audio-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir = templ;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string write(const char *name, const std::string &text) {
    std::ofstream(dir + "/" + name) << text;
    return dir + "/" + name;
  }
  std::string dir;
};

TEST_F(audio_synth, two_runs_write_identical_files_equal_to_the_built_assets) {
  const char *const pieces[][2] = {{"game.score", "game.ogg"}, {"baby-rescued.score", "baby-rescued.wav"}};
  for (const auto &piece : pieces) {
    std::string score = std::string(ORB_AUDIO_SOURCE_DIR) + "/" + piece[0], out[2];
    for (int run = 0; run < 2; run++) {
      int status = -1;
      // Same name in another directory: the name may go into the file.
      std::filesystem::create_directory(dir + "/" + std::to_string(run));
      out[run] = dir + "/" + std::to_string(run) + "/" + piece[1];
      std::string output = synth(score, out[run], &status);
      ASSERT_EQ(status, 0) << output;
    }
    std::string bytes = slurp(out[0]);
    EXPECT_FALSE(bytes.empty());
    EXPECT_TRUE(bytes == slurp(out[1])) << piece[1] << " differs between two runs";
    EXPECT_TRUE(bytes == slurp(asset(piece[1]))) << piece[1] << " differs from the built asset";
  }
}

TEST_F(audio_synth, loop_tails_wrap_round_to_the_start) {
  // A note held across the end of a loop must go on sounding at the start,
  // as it will when the piece is played again.
  std::string score = write("held.score",
                            "tempo 120\nlength 4\nloop\n"
                            "instrument tone\n  osc sine\n  envelope 0.01 0.1 1 0.3\n  gate 1\nend\n"
                            "track tone\n  r:3 a3:2 end\n");
  int status = -1;
  std::string output = synth(score, dir + "/held.wav", &status);
  ASSERT_EQ(status, 0) << output;
  sound_t s = read_wav(dir + "/held.wav");
  ASSERT_EQ(s.frames(), 2 * 44100);
  long n = s.frames();
  double end_level = rms(s, n - ms(s, 20), n), start_level = rms(s, 0, ms(s, 20));
  EXPECT_GT(db(end_level), -10.0);
  EXPECT_NEAR(db(start_level), db(end_level), 1.0) << "the held note stops at the seam";
  // A 220 Hz sine moves at most 2 pi 220 / 44100 of its amplitude per sample.
  double max_step = 2.0 * M_PI * 220.0 / 44100.0 * peak(s) * 1.05 + 2.0 / 32768.0;
  for (int ch = 0; ch < s.channels; ch++) EXPECT_LE(std::fabs(s.at(0, ch) - s.at(n - 1, ch)), max_step);
}

TEST_F(audio_synth, broken_scores_fail_naming_the_line) {
  const std::string header = "tempo 120\ninstrument tone\n  osc sine\n  envelope 0.01 0.1 0.5 0.2\nend\n";
  struct {
    const char *body;  // from line 6 on
    int line;          // the line the message must name
  } cases[] = {
      {"track tone\n  c4:1 x9 end\n", 7},              // not a note
      {"track tone\n  c4:3 | end\n", 7},               // bar line off the bar
      {"track piano c4 end\n", 6},                     // no such instrument
      {"length 2\ntrack tone\n  c4:1 c4:1 end\n", 8},  // the second note rings past the end
      {"track tone\n  [c4 d4 end\n", 7},               // repeat never closed
  };
  std::string out = dir + "/broken.wav";
  for (const auto &c : cases) {
    std::string score = write("broken.score", header + c.body);
    int status = -1;
    std::string output = synth(score, out, &status);
    EXPECT_EQ(status, 1) << c.body;
    std::string where = "Fatal error: " + score + ":" + std::to_string(c.line) + ": ";
    EXPECT_NE(output.find(where), std::string::npos) << "expected \"" << where << "\" for:\n" << c.body << "got: " << output;
    EXPECT_NE(access(out.c_str(), F_OK), 0) << "a broken score still wrote a file";
  }
}

}  // namespace
