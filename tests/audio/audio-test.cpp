// The rendered music and effects as the game meets them: loaded by SDL_mixer
// the way the game loads them, and mixed so that the player hears each
// effect stand a few dB above the game's tune (played at music volume 100 of
// 128) without burying it, and both tunes about equally loud.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

std::string asset(const char *name) { return std::string(ORB_ASSETS_DIR) + "/" + name; }

double db(double level) { return 20.0 * std::log10(level); }

// Decoded by the mixer into its own format (44.1 kHz, 16-bit stereo), as it
// decodes the effects for the game; it takes Ogg Vorbis the same way.
std::vector<double> decode(const char *name) {
  Mix_Chunk *chunk = Mix_LoadWAV_RW(SDL_RWFromFile(asset(name).c_str(), "rb"), 1);
  if (!chunk) return {};
  const Sint16 *s = reinterpret_cast<const Sint16 *>(chunk->abuf);
  std::vector<double> pcm(s, s + chunk->alen / 2);
  for (double &v : pcm) v /= 32768.0;
  Mix_FreeChunk(chunk);
  return pcm;
}

// The RMS level of the loudest window of that many samples (0: of the whole).
double rms(const std::vector<double> &pcm, size_t window = 0) {
  window = window ? std::min(window, pcm.size()) : pcm.size();
  double loudest = 0.0;
  for (size_t from = 0; from + window <= pcm.size(); from += window / 4 + 1) {
    double sum = 0.0;
    for (size_t i = from; i < from + window; i++) sum += pcm[i] * pcm[i];
    loudest = std::max(loudest, sum / double(window));
  }
  return std::sqrt(loudest);
}

// The mixer opened once as the game opens it, on SDL's dummy audio driver.
bool mixer_open() {
  static const bool open = setenv("SDL_AUDIODRIVER", "dummy", 1) == 0 && SDL_Init(SDL_INIT_AUDIO) == 0 &&
                           Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 2048) == 0;
  return open;
}

TEST(audio_assets, both_tunes_load_as_ogg_music) {
  ASSERT_TRUE(mixer_open()) << Mix_GetError();
  for (const char *name : {"quietmoth.ogg", "game.ogg"}) {
    Mix_Music *music = Mix_LoadMUS(asset(name).c_str());
    ASSERT_NE(music, nullptr) << name << ": " << Mix_GetError();
    EXPECT_EQ(Mix_GetMusicType(music), MUS_OGG) << name;
    Mix_FreeMusic(music);
  }
}

TEST(audio_assets, each_effect_peaks_a_few_db_above_the_tune_as_heard) {
  ASSERT_TRUE(mixer_open()) << Mix_GetError();
  const double game = db(rms(decode("game.ogg"))), heard = game + db(100.0 / 128.0);
  EXPECT_NEAR(db(rms(decode("quietmoth.ogg"))), game, 1.5) << "the two tunes differ in loudness";
  for (const char *name : {"baby-infected.wav", "baby-held.wav", "baby-rescued.wav", "adult-infected.wav"}) {
    const std::vector<double> pcm = decode(name);
    ASSERT_GT(pcm.size(), 4410u) << name << " is missing, broken or shorter than 50 ms";
    const double above = db(rms(pcm, 4410)) - heard;  // its loudest 50 ms
    EXPECT_GE(above, 2.0) << name << " would drown in the music";
    EXPECT_LE(above, 7.0) << name << " would bury the music";
  }
}

}  // namespace
