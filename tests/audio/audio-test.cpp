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

double db(double level) { return 20.0 * std::log10(std::max(level, 1e-9)); }

// The mixer decodes a chunk, Ogg or WAV, into its own format: 44.1 kHz,
// 16-bit stereo samples.
std::vector<double> decode(const char *name) {
  std::vector<double> pcm;
  Mix_Chunk *chunk = Mix_LoadWAV_RW(SDL_RWFromFile(asset(name).c_str(), "rb"), 1);
  EXPECT_NE(chunk, nullptr) << name << ": " << Mix_GetError();
  if (!chunk) return pcm;
  const Sint16 *s = reinterpret_cast<const Sint16 *>(chunk->abuf);
  for (Uint32 i = 0; i < chunk->alen / 2; i++) pcm.push_back(s[i] / 32768.0);
  Mix_FreeChunk(chunk);
  return pcm;
}

// RMS level of the whole sound, or of its loudest 50 ms window.
double rms(const std::vector<double> &pcm, size_t window = 0) {
  if (!window) window = pcm.size();
  double best = 0.0;
  for (size_t from = 0; from + window <= pcm.size(); from += std::max<size_t>(window / 4, 1)) {
    double sum = 0.0;
    for (size_t i = from; i < from + window; i++) sum += pcm[i] * pcm[i];
    best = std::max(best, std::sqrt(sum / double(window)));
  }
  return best;
}

class audio_assets : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_AUDIO), 0) << SDL_GetError();
    ASSERT_EQ(Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 2048), 0) << Mix_GetError();
  }
  void TearDown() override {
    Mix_CloseAudio();
    SDL_Quit();
  }
};

TEST_F(audio_assets, both_tunes_load_as_music_and_every_file_decodes) {
  for (const char *name : {"quietmoth.ogg", "game.ogg"}) {
    Mix_Music *music = Mix_LoadMUS(asset(name).c_str());
    ASSERT_NE(music, nullptr) << name << ": " << Mix_GetError();
    EXPECT_EQ(Mix_GetMusicType(music), MUS_OGG) << name;
    Mix_FreeMusic(music);
  }
  for (const char *name : {"quietmoth.ogg", "game.ogg", "baby-infected.wav", "baby-held.wav",
                           "baby-rescued.wav", "adult-infected.wav"})
    EXPECT_GT(decode(name).size(), 44100u / 10) << name << " lasts under 50 ms";
}

TEST_F(audio_assets, each_effect_peaks_a_few_db_above_the_tune_as_heard) {
  const size_t window = 2 * 44100 / 20;  // 50 ms of stereo samples
  const double game = db(rms(decode("game.ogg"))), logo = db(rms(decode("quietmoth.ogg")));
  EXPECT_NEAR(logo, game, 1.5) << "the logo tune and the game tune differ in loudness";
  const double heard = game + db(100.0 / 128.0);
  for (const char *name : {"baby-infected.wav", "baby-held.wav", "baby-rescued.wav", "adult-infected.wav"}) {
    const double above = db(rms(decode(name), window)) - heard;
    EXPECT_GE(above, 2.0) << name << " would drown in the music";
    EXPECT_LE(above, 7.0) << name << " would bury the music";
  }
}

}  // namespace
