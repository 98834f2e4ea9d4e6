// The flow of the application through the real main loop: the logo screen's
// fade into the game, the game's states with the one-second guard, restarts
// and Escape.
#include "harness.hpp"

#include "quietmoth.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// Run frames until the game is in state; bounded.
void frames_until(loop_t *loop, game_t *game, uint32_t state, uint32_t ms)
{
  for (int i = 0; i < 1000 && game->state != state; i++) {
    harness_now += ms;
    harness_frame(loop);
  }
  ASSERT_EQ(game->state, state);
}

}  // namespace

TEST(game_flow, logo_fades_in_holds_fades_out_and_hands_over_to_the_game)
{
  loop_t *loop = harness_start();
  // The shell's first update enters the logo screen.
  harness_frame(loop);
  ASSERT_EQ(loop->current, 1);
  auto *quietmoth = static_cast<quietmoth_t *>(loop_context(loop, 1));
  tableau_t *logo = quietmoth->node;
  EXPECT_STREQ(logo->name, "quietmoth");
  EXPECT_EQ(quietmoth->state, (uint32_t)QUIETMOTH_FADE_IN);
  EXPECT_FLOAT_EQ(tableau_get_alpha(logo), 0.0f);
  EXPECT_STREQ(loop->music_file, "assets/quietmoth.ogg");

  harness_now += 1000;
  harness_frame(loop);
  EXPECT_NEAR(tableau_get_alpha(logo), 1000 * 0.00030003f, 1e-6);

  harness_now += QUIETMOTH_STEP_MS - 1000;
  harness_frame(loop);
  EXPECT_EQ(quietmoth->state, (uint32_t)QUIETMOTH_SHOW);
  EXPECT_FLOAT_EQ(tableau_get_alpha(logo), 1.0f);

  // Holding: the tree is left clean.
  harness_now += QUIETMOTH_STEP_MS - 1;
  harness_frame(loop);
  EXPECT_EQ(quietmoth->state, (uint32_t)QUIETMOTH_SHOW);
  EXPECT_FALSE(static_cast<tableau_t *>(logo->parent)->dirty);
  harness_now += 1;
  harness_frame(loop);
  EXPECT_EQ(quietmoth->state, (uint32_t)QUIETMOTH_FADE_OUT);

  harness_now += 2000;
  harness_frame(loop);
  EXPECT_NEAR(tableau_get_alpha(logo), 1.0f - 2000 * 0.00030003f, 1e-6);

  harness_now += QUIETMOTH_STEP_MS;
  harness_frame(loop);
  EXPECT_EQ(quietmoth->state, (uint32_t)QUIETMOTH_DONE);
  harness_frame(loop);
  EXPECT_EQ(loop->current, 2);
  auto *game = static_cast<game_t *>(loop_context(loop, 2));
  EXPECT_EQ(tableau_lookup_name(game->root, "quietmoth"), nullptr);
  EXPECT_STREQ(loop->music_file, "assets/game.ogg");
  EXPECT_EQ(loop->music_flags, (uint32_t)(LOOP_MUSIC_REPEAT | LOOP_MUSIC_KEEP));
}

TEST(game_flow, caught_game_shows_score_ignores_keys_for_a_second_then_restarts)
{
  loop_t *loop;
  game_t *game = harness_game(&loop);
  tableau_t *first = game->node;

  // Any key while playing does nothing.
  harness_key(SDLK_SPACE, SDL_SCANCODE_SPACE);
  harness_frame(loop);
  EXPECT_EQ(game->node, first);

  // Left alone, the adult is caught by a seen virus rising into it.
  tableau_set_active(game->virus[0]->node, 1);
  harness_place(game, game->virus[0], 0.0f, -0.3f);
  frames_until(loop, game, GAME_SCORE, 20);
  EXPECT_STREQ(game->adult->node->name, "adult-virus");
  EXPECT_TRUE(tableau_get_active(game->score));
  EXPECT_EQ(harness_children(game->score, 0).size(), 10u);
  uint32_t shown_at = harness_now;
  // The playfield is frozen under the score.
  float y = game->virus[0]->y;

  harness_now = shown_at + 999;
  harness_key(SDLK_SPACE, SDL_SCANCODE_SPACE);
  harness_frame(loop);
  EXPECT_EQ(game->state, (uint32_t)GAME_SCORE);
  EXPECT_EQ(game->node, first);
  EXPECT_EQ(game->virus[0]->y, y);

  harness_now = shown_at + 1000;
  harness_frame(loop);
  EXPECT_EQ(game->state, (uint32_t)GAME_WAITING);
  harness_now += 5000;
  harness_frame(loop);
  EXPECT_EQ(game->state, (uint32_t)GAME_WAITING);
  EXPECT_EQ(game->node, first);

  harness_key(SDLK_x, SDL_SCANCODE_X);
  harness_frame(loop);
  EXPECT_EQ(game->state, (uint32_t)GAME_PLAYING);
  EXPECT_NE(game->node, first);
  EXPECT_STREQ(game->adult->node->name, "adult");
  EXPECT_FALSE(tableau_get_active(game->score));
  EXPECT_STREQ(loop->music_file, "assets/game.ogg");
  EXPECT_EQ(game->adult->rescued, 0u);
}

TEST(game_flow, every_game_frame_is_drawn_and_a_quit_event_only_returns_from_the_loop)
{
  loop_t *loop;
  game_t *game = harness_game(&loop);
  for (uint32_t state : {GAME_PLAYING, GAME_SCORE, GAME_WAITING}) {
    game->state = state;
    game->root->dirty = 0;
    harness_step(loop, game);
    EXPECT_TRUE(game->root->dirty) << state;
  }
  harness_frame(loop);
  EXPECT_EQ(loop->current, 2);
  EXPECT_EQ(loop_shutdown(loop), 0);
  EXPECT_NE(game->node, nullptr);
}

using game_flow_death = ::testing::Test;

TEST(game_flow_death, escape_ends_the_process_with_status_0_in_every_state)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (uint32_t state : {GAME_PLAYING, GAME_SCORE, GAME_WAITING}) {
    EXPECT_EXIT(
        {
          loop_t *loop;
          game_t *game = harness_game(&loop);
          game->state = state;
          harness_key(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
          harness_frame(loop);
          _exit(3);
        },
        ::testing::ExitedWithCode(0), "")
        << state;
  }
}
