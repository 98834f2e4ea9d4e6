// The tick timers, driven by a clock the tests set by hand.
#include "loop/loop.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

uint32_t fake_now;

uint32_t fake_clock(void)
{
  return fake_now;
}

class loop_ticks_test : public testing::Test {
protected:
  void SetUp() override
  {
    loop = static_cast<loop_t *>(calloc(1, sizeof(loop_t)));
    saved_clock = loop_clock;
    loop_clock = fake_clock;
    fake_now = 0;
  }
  void TearDown() override
  {
    loop_clock = saved_clock;
    free(loop);
  }
  loop_t *loop = nullptr;
  uint32_t (*saved_clock)(void) = nullptr;
};

}  // namespace

TEST(loop_ticks_clock, defaults_to_sdl_ticks)
{
  EXPECT_EQ(loop_clock, &SDL_GetTicks);
}

TEST_F(loop_ticks_test, reset_moves_only_that_timer_base_to_now)
{
  fake_now = 1000;
  loop_ticks_reset(loop, 3);
  fake_now = 1250;
  EXPECT_EQ(loop_ticks(loop, 3), 250u);
  for (unsigned t : {0u, 4u, LOOP_TICKS_CNT - 1})  // never reset: counted from the clock's start
    EXPECT_EQ(loop_ticks(loop, t), 1250u) << "timer " << t;
}

TEST_F(loop_ticks_test, elapsed_resets_from_the_moment_of_the_call)
{
  fake_now = 100;
  loop_ticks_reset(loop, 1);
  fake_now = 119;
  EXPECT_EQ(loop_ticks_elapsed(loop, 1, 20), 0);
  EXPECT_EQ(loop_ticks(loop, 1), 19u) << "a period not yet over must not reset";
  fake_now = 127;
  EXPECT_EQ(loop_ticks_elapsed(loop, 1, 20), 1);
  EXPECT_EQ(loop_ticks(loop, 1), 0u) << "7 ms of lateness are dropped";
  fake_now = 146;
  EXPECT_EQ(loop_ticks_elapsed(loop, 1, 20), 0);
  fake_now = 147;
  EXPECT_EQ(loop_ticks_elapsed(loop, 1, 20), 1);
  // A period of 0 fires on every call, even twice in one millisecond.
  EXPECT_EQ(loop_ticks_elapsed(loop, 9, 0), 1);
  EXPECT_EQ(loop_ticks_elapsed(loop, 9, 0), 1);
  fake_now = 148;
  EXPECT_EQ(loop_ticks(loop, 9), 1u);
}

TEST_F(loop_ticks_test, the_next_query_ends_a_pause_and_credits_it_to_all_timers)
{
  for (unsigned t = 0; t < LOOP_TICKS_CNT; t++) {
    fake_now = 100 * t;
    loop_ticks_reset(loop, t);
  }
  fake_now = 2000;
  loop_ticks_pause(loop);
  fake_now = 2300;
  loop_ticks_pause(loop);  // a second pause keeps the first one's time
  fake_now = 2500;
  EXPECT_EQ(loop_ticks(loop, 6), 2000u - 600u);
  EXPECT_FALSE(loop->paused);
  fake_now = 2700;
  for (unsigned t = 0; t < LOOP_TICKS_CNT; t++)
    EXPECT_EQ(loop_ticks(loop, t), 2700u - 500u - 100u * t) << "timer " << t;
}

TEST_F(loop_ticks_test, reset_and_elapsed_also_end_a_pause)
{
  fake_now = 100;
  loop_ticks_pause(loop);
  fake_now = 600;
  loop_ticks_reset(loop, 2);
  fake_now = 700;
  EXPECT_EQ(loop_ticks(loop, 2), 100u);
  EXPECT_EQ(loop_ticks(loop, 3), 200u);
  loop_ticks_pause(loop);
  fake_now = 1700;
  EXPECT_EQ(loop_ticks_elapsed(loop, 4, 201), 0);
  EXPECT_EQ(loop_ticks_elapsed(loop, 4, 200), 1);
  EXPECT_EQ(loop_ticks(loop, 5), 200u);
}

TEST_F(loop_ticks_test, differences_survive_the_32_bit_wrap)
{
  fake_now = 0xffffff00u;
  loop_ticks_reset(loop, 0);
  fake_now = 0x100u;
  EXPECT_EQ(loop_ticks(loop, 0), 0x200u);
  EXPECT_EQ(loop_ticks_elapsed(loop, 0, 0x201), 0);
  EXPECT_EQ(loop_ticks_elapsed(loop, 0, 0x200), 1);
  fake_now = 0xfffffff0u;
  loop_ticks_reset(loop, 1);
  loop_ticks_pause(loop);
  fake_now = 0x10u;
  EXPECT_EQ(loop_ticks(loop, 1), 0u) << "the 32 ms paused across the wrap are credited";
  fake_now = 0x15u;
  EXPECT_EQ(loop_ticks(loop, 1), 5u);
}

TEST(loop_ticks_death, timer_index_out_of_range)
{
  loop_t *loop = static_cast<loop_t *>(calloc(1, sizeof(loop_t)));
  EXPECT_DEATH(loop_ticks(loop, LOOP_TICKS_CNT), "timer < LOOP_TICKS_CNT");
  EXPECT_DEATH(loop_ticks_reset(loop, 10), "timer < LOOP_TICKS_CNT");
  EXPECT_DEATH(loop_ticks_elapsed(loop, 10, 0), "timer < LOOP_TICKS_CNT");
  EXPECT_DEATH(loop_ticks(nullptr, 0), "Assertion `loop' failed");
  free(loop);
}
