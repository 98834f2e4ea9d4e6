// Music against the real SDL_mixer on the dummy audio driver, with WAV
// pieces the suite writes itself. A piece's end is reached either by waiting
// (bounded) for a short piece to run out on the audio thread, or at once with
// Mix_HaltMusic, which runs the finished hook on the calling thread.
#include "loop/loop.hpp"

#include "test-loop-support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string dir;
std::atomic<int> hook_calls;

// 16-bit stereo PCM at 44100 Hz: a square wave, ms milliseconds long.
void write_wav(const std::string &path, unsigned ms)
{
  const uint32_t frames = 44100u * ms / 1000, size = frames * 4;
  const uint32_t header[11] = {0x46464952, 36 + size, 0x45564157, 0x20746d66, 16, 0x00020001,
                               44100, 44100 * 4, 0x00100004, 0x61746164, size};  // "RIFF" .. "data"
  FILE *file = fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  fwrite(header, 4, 11, file);
  for (uint32_t i = 0; i < frames * 2; i++) {
    const int16_t sample = (i / 100) % 2 ? 3000 : -3000;
    fwrite(&sample, 2, 1, file);
  }
  fclose(file);
}

std::string piece(const char *name)
{
  return dir + "/" + name + ".wav";
}

// Counts the ends of pieces, then hands over to the framework's hook.
void counting_hook(void)
{
  hook_calls++;
  loop_music_finished();
}

// Polls cond every 5 ms for at most 3 s of real audio time.
template <typename F> bool wait_for(F cond)
{
  for (uint32_t start = SDL_GetTicks(); SDL_GetTicks() - start < 3000; SDL_Delay(5))
    if (cond())
      return true;
  return cond();
}

const loop_ops_t idle = {};
const loop_ops_t *const table[] = {&idle, nullptr};

class loop_music_test : public testing::Test {
public:
  static void SetUpTestSuite()
  {
    support_sdl_drivers();
    dir = support_temp_dir();
    write_wav(piece("short"), 100);
    write_wav(piece("a"), 4000);
    write_wav(piece("b"), 4000);
    write_wav(piece("c"), 4000);
  }
  void SetUp() override
  {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    loop = loop_startup(0, nullptr, table);
    Mix_HookMusicFinished(counting_hook);
    hook_calls = 0;
  }
  void TearDown() override
  {
    // The next test's loop takes over the hook; this one's piece must not
    // run on into it.
    Mix_HookMusicFinished(nullptr);
    Mix_HaltMusic();
    Mix_ResumeMusic();
  }
  void set(int flags, const char *name) { loop_music_set(loop, flags, "%s/%s.wav", dir.c_str(), name); }
  // Plays on until it is at least 500 ms into the piece, far enough that a
  // restart shows even on a busy machine.
  double played_a_while(void)
  {
    EXPECT_TRUE(wait_for([this] { return Mix_GetMusicPosition(loop->music) > 0.5; }));
    return Mix_GetMusicPosition(loop->music);
  }
  loop_t *loop = nullptr;
};

}  // namespace

TEST_F(loop_music_test, set_loads_and_starts_unpaused_at_volume_100)
{
  Mix_VolumeMusic(7);
  Mix_PauseMusic();
  set(0, "a");
  ASSERT_NE(loop->music, nullptr);
  EXPECT_EQ(loop->music_file, piece("a"));
  EXPECT_EQ(loop->next_file, nullptr);
  EXPECT_EQ(Mix_PlayingMusic(), 1);
  EXPECT_EQ(Mix_PausedMusic(), 0);
  EXPECT_EQ(Mix_FadingMusic(), MIX_NO_FADING);
  EXPECT_EQ(Mix_VolumeMusic(-1), 100);
  loop_music_pause();
  EXPECT_EQ(Mix_PausedMusic(), 1);
  loop_music_resume();
  EXPECT_EQ(Mix_PausedMusic(), 0);
}

TEST_F(loop_music_test, repeat_restarts_the_same_piece_without_fade)
{
  set(LOOP_MUSIC_FADE_IN | LOOP_MUSIC_REPEAT, "a");
  EXPECT_EQ(Mix_FadingMusic(), MIX_FADING_IN);
  Mix_Music *music = loop->music;
  Mix_HaltMusic();
  EXPECT_EQ(hook_calls, 1);
  EXPECT_EQ(Mix_PlayingMusic(), 1);
  EXPECT_EQ(Mix_FadingMusic(), MIX_NO_FADING);
  EXPECT_EQ(loop->music, music);
  // And on the audio thread, when a short piece runs out.
  set(LOOP_MUSIC_REPEAT, "short");
  music = loop->music;
  ASSERT_TRUE(wait_for([] { return hook_calls >= 4; }));
  EXPECT_EQ(Mix_PlayingMusic(), 1);
  EXPECT_EQ(loop->music, music);
}

TEST_F(loop_music_test, piece_without_repeat_ends_silent_and_stays_loaded)
{
  set(0, "short");
  Mix_Music *music = loop->music;
  ASSERT_TRUE(wait_for([] { return Mix_PlayingMusic() == 0; }));
  EXPECT_EQ(hook_calls, 1);
  EXPECT_EQ(loop->music, music);
  // KEEP still compares against the silent piece's name.
  set(LOOP_MUSIC_KEEP, "short");
  EXPECT_EQ(Mix_PlayingMusic(), 0);
  EXPECT_EQ(loop->music, music);
  set(0, "short");
  EXPECT_EQ(Mix_PlayingMusic(), 1);
}

TEST_F(loop_music_test, keep_leaves_the_same_file_playing_and_without_it_the_file_restarts)
{
  set(LOOP_MUSIC_REPEAT, "a");
  Mix_Music *music = loop->music;
  double position = played_a_while();
  set(LOOP_MUSIC_KEEP | LOOP_MUSIC_FADE_IN, "a");
  EXPECT_EQ(loop->music, music);
  EXPECT_EQ(loop->music_flags, uint32_t(LOOP_MUSIC_REPEAT));
  EXPECT_EQ(Mix_FadingMusic(), MIX_NO_FADING);
  EXPECT_GE(Mix_GetMusicPosition(loop->music), position) << "not restarted";
  EXPECT_EQ(hook_calls, 0);
  position = played_a_while();
  set(0, "a");
  EXPECT_NE(loop->music, music);
  EXPECT_LT(Mix_GetMusicPosition(loop->music), position);
  // KEEP with another file replaces the piece.
  set(LOOP_MUSIC_KEEP, "b");
  EXPECT_EQ(loop->music_file, piece("b"));
  EXPECT_EQ(loop->music_flags, uint32_t(LOOP_MUSIC_KEEP));
  EXPECT_EQ(Mix_PlayingMusic(), 1);
}

TEST_F(loop_music_test, queued_piece_waits_for_the_current_one_to_end)
{
  set(0, "short");
  Mix_Music *music = loop->music;
  set(LOOP_MUSIC_QUEUE | LOOP_MUSIC_FADE_IN | LOOP_MUSIC_REPEAT, "b");
  EXPECT_EQ(loop->music, music);
  EXPECT_EQ(loop->next_file, piece("b"));
  EXPECT_EQ(loop->next_flags, uint32_t(LOOP_MUSIC_FADE_IN | LOOP_MUSIC_REPEAT));
  // The short piece runs out on the audio thread, whose hook starts "b".
  ASSERT_TRUE(wait_for([this, music] { return loop->music != music; }));
  EXPECT_EQ(loop->music_file, piece("b"));
  EXPECT_EQ(loop->music_flags, uint32_t(LOOP_MUSIC_FADE_IN | LOOP_MUSIC_REPEAT));
  EXPECT_EQ(loop->next_file, nullptr);
  EXPECT_EQ(loop->next_flags, 0u);
  EXPECT_EQ(Mix_PlayingMusic(), 1);
  EXPECT_EQ(Mix_FadingMusic(), MIX_FADING_IN);
}

TEST_F(loop_music_test, a_later_queued_name_replaces_the_earlier_and_wins_over_repetition)
{
  set(LOOP_MUSIC_QUEUE, "b");  // nothing loaded: starts at once, flags as passed
  EXPECT_EQ(loop->music_file, piece("b"));
  EXPECT_EQ(loop->music_flags, uint32_t(LOOP_MUSIC_QUEUE));
  EXPECT_EQ(loop->next_file, nullptr);
  set(LOOP_MUSIC_REPEAT, "a");
  set(LOOP_MUSIC_QUEUE, "b");
  set(LOOP_MUSIC_QUEUE | LOOP_MUSIC_REPEAT, "c");
  EXPECT_EQ(loop->next_file, piece("c"));
  EXPECT_EQ(loop->music_file, piece("a"));
  Mix_HaltMusic();
  EXPECT_EQ(loop->music_file, piece("c"));
  EXPECT_EQ(loop->music_flags, uint32_t(LOOP_MUSIC_REPEAT));
  EXPECT_EQ(Mix_PlayingMusic(), 1);
}

TEST_F(loop_music_test, replacing_a_piece_drops_the_queue_before_halting)
{
  // A queued name is not loaded until its turn: had the halt's hook still
  // found this one, loading it would stop the program.
  set(LOOP_MUSIC_REPEAT, "a");
  set(LOOP_MUSIC_QUEUE, "missing");
  set(0, "c");
  EXPECT_EQ(hook_calls, 1);
  EXPECT_EQ(loop->music_file, piece("c"));
  EXPECT_EQ(loop->music_flags, 0u);
  EXPECT_EQ(loop->next_file, nullptr);
  EXPECT_EQ(loop->next_flags, 0u);
  // "c" is what plays: its end does not bring back the repeating "a".
  Mix_HaltMusic();
  EXPECT_EQ(Mix_PlayingMusic(), 0);
}

TEST_F(loop_music_test, optional_file_that_fails_changes_nothing_and_says_nothing)
{
  set(LOOP_MUSIC_OPTIONAL, "missing");
  EXPECT_EQ(loop->music, nullptr);
  EXPECT_EQ(loop->music_file, nullptr);
  set(LOOP_MUSIC_REPEAT, "a");
  set(LOOP_MUSIC_QUEUE | LOOP_MUSIC_FADE_IN, "b");
  Mix_Music *music = loop->music;
  const std::string text = support_capture_stderr(
      [](void *arg) { static_cast<loop_music_test *>(arg)->set(LOOP_MUSIC_OPTIONAL, "missing"); }, this);
  EXPECT_EQ(text, "");
  EXPECT_EQ(loop->music, music);
  EXPECT_EQ(loop->music_file, piece("a"));
  EXPECT_EQ(loop->music_flags, uint32_t(LOOP_MUSIC_REPEAT));
  EXPECT_EQ(loop->next_file, piece("b"));
  EXPECT_EQ(loop->next_flags, uint32_t(LOOP_MUSIC_FADE_IN));
  EXPECT_EQ(Mix_PlayingMusic(), 1);
  EXPECT_EQ(hook_calls, 0);
}

TEST_F(loop_music_test, failures_are_fatal_with_their_messages)
{
  EXPECT_EXIT(set(0, "missing"), testing::ExitedWithCode(1),
              "^Fatal error: Unable to load music \"[^\"]+/missing\\.wav\", reason: \"Couldn't open .+\"\n$");
  EXPECT_EXIT(
      {
        Mix_CloseAudio();
        set(0, "a");
      },
      testing::ExitedWithCode(1), "^Fatal error: Unable to play music\n$");
  EXPECT_EXIT(
      {
        set(LOOP_MUSIC_REPEAT, "a");
        Mix_HookMusicFinished(nullptr);
        Mix_CloseAudio();
        loop_music_finished();
      },
      testing::ExitedWithCode(1), "^Fatal error: Unable to loop music\n$");
}

// Outside the fixture: the name is checked before SDL_mixer is involved, and
// the aborting child must not leave the fixture's pieces behind.
TEST(loop_music_name, name_of_255_characters_is_accepted_256_is_not)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  loop_t *loop = static_cast<loop_t *>(calloc(1, sizeof(loop_t)));
  const std::string longest(255, 'x'), too_long(256, 'x');
  loop_music_set(loop, LOOP_MUSIC_OPTIONAL, "%s", longest.c_str());
  EXPECT_EQ(loop->music, nullptr);
  EXPECT_DEATH(loop_music_set(loop, LOOP_MUSIC_OPTIONAL, "%s", too_long.c_str()), "length <= 255");
  free(loop);
}
