// The rules of play: pick-up, carrying, rescue, infection, the television,
// virus passes, the movement keys and the sounds each event starts.
#include "harness.hpp"

#include "digit-node.hpp"
#include "sfx.hpp"
#include "tex-node.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace {

enum { INFECTED, HELD, RESCUED, ADULT_INFECTED };

struct sounds_t {
  uint32_t n[SFX_CNT];
};

sounds_t sounds(void)
{
  sounds_t s;
  memcpy(s.n, sfx_started, sizeof s.n);
  return s;
}

// How many of each effect were started since `before`.
uint32_t since(const sounds_t &before, int which)
{
  return sfx_started[which] - before.n[which];
}

void hold(SDL_Scancode scancode, bool down = true)
{
  harness_keys[scancode] = down ? 1 : 0;
}

entity_t *first_baby(game_t *game)
{
  return harness_entity(harness_children(game->babies, 0).front());
}

}  // namespace

TEST(game_rules, adult_picks_up_a_touched_baby_with_one_sound_and_no_second)
{
  game_t *game = harness_game();
  harness_clear_field(game);
  auto babies = harness_children(game->babies, 0);
  entity_t *a = harness_entity(babies[0]);
  entity_t *b = harness_entity(babies[1]);
  harness_place(game, a, 0.1f, 0.0f);

  // Nothing happens without a key: the adult does not search.
  game_player_step(game);
  EXPECT_EQ(game->adult->held, nullptr);

  sounds_t before = sounds();
  hold(SDL_SCANCODE_RIGHT);
  game_player_step(game);
  EXPECT_EQ(game->adult->held, a);
  EXPECT_EQ(since(before, HELD), 1u);

  // A second baby under an adult that already carries one is not taken.
  harness_place(game, b, game->adult->x + 0.04f, 0.0f);
  game_player_step(game);
  EXPECT_EQ(game->adult->held, a);
  EXPECT_EQ(since(before, HELD), 1u);
  EXPECT_EQ(a->kind, ENTITY_BABY);
}

TEST(game_rules, carried_baby_follows_and_is_rescued_past_each_edge)
{
  game_t *game = harness_game();
  harness_clear_field(game);
  entity_t *adult = game->adult;
  entity_t *baby = first_baby(game);

  struct {
    SDL_Scancode key;
    float x, y;
  } edges[] = {
    {SDL_SCANCODE_D, 1.03f, 0.0f},
    {SDL_SCANCODE_A, -1.03f, 0.0f},
    {SDL_SCANCODE_W, 0.0f, 1.03f},
    {SDL_SCANCODE_S, 0.0f, -1.03f},
  };
  uint32_t rescued = 0;
  for (const auto &edge : edges) {
    // Stand just inside the rescue line holding the baby.
    harness_place(game, adult, edge.x, edge.y);
    harness_place(game, baby, edge.x, edge.y);
    adult->held = baby;
    sounds_t before = sounds();

    hold(edge.key);
    game_player_step(game);
    hold(edge.key, false);

    EXPECT_EQ(adult->held, nullptr) << "edge " << edge.x << "," << edge.y;
    EXPECT_EQ(adult->rescued, ++rescued);
    EXPECT_EQ(since(before, RESCUED), 1u);
    EXPECT_EQ(baby->kind, ENTITY_BABY);
    // Put back somewhere on the field, no longer at the adult.
    EXPECT_TRUE(baby->x != adult->x || baby->y != adult->y);
    EXPECT_GE(baby->x, -1.0f);
    EXPECT_LE(baby->x, 1.0f);
    EXPECT_GE(baby->y, -1.0f);
    EXPECT_LE(baby->y, 1.0f);
  }

  // Carried inside the line, the baby moves with the adult and is not rescued.
  harness_place(game, adult, 0.5f, 0.5f);
  harness_place(game, baby, 0.5f, 0.5f);
  adult->held = baby;
  hold(SDL_SCANCODE_UP);
  game_player_step(game);
  hold(SDL_SCANCODE_UP, false);
  EXPECT_EQ(adult->held, baby);
  EXPECT_FLOAT_EQ(baby->x, 0.5f);
  EXPECT_FLOAT_EQ(baby->y, 0.54f);
  EXPECT_FLOAT_EQ(baby->model_x[13], 0.54f);
  EXPECT_EQ(adult->rescued, 4u);
}

TEST(game_rules, adult_stops_at_the_limits_and_rescues_only_beyond_the_line)
{
  game_t *game = harness_game();
  harness_clear_field(game);
  entity_t *adult = game->adult;
  entity_t *baby = first_baby(game);
  harness_place(game, adult, 1.02f, 0.0f);
  harness_place(game, baby, 1.02f, 0.0f);
  adult->held = baby;

  hold(SDL_SCANCODE_RIGHT);
  game_player_step(game);  // 1.06: past 1.05
  EXPECT_EQ(adult->rescued, 1u);
  for (int i = 0; i < 5; i++)
    game_player_step(game);
  hold(SDL_SCANCODE_RIGHT, false);
  EXPECT_FLOAT_EQ(adult->x, 1.1f);
  EXPECT_FLOAT_EQ(adult->model_x[12], 1.1f);
}

TEST(game_rules, opposite_keys_cancel_but_still_run_the_step)
{
  game_t *game = harness_game();
  harness_clear_field(game);
  entity_t *adult = game->adult;
  entity_t *baby = first_baby(game);
  harness_place(game, baby, 0.05f, 0.0f);

  hold(SDL_SCANCODE_LEFT);
  hold(SDL_SCANCODE_A);
  hold(SDL_SCANCODE_RIGHT);
  hold(SDL_SCANCODE_D);
  game_player_step(game);
  EXPECT_FLOAT_EQ(adult->x, 0.0f);
  EXPECT_FLOAT_EQ(adult->y, 0.0f);
  // The search ran: the baby under the standing adult was picked up.
  EXPECT_EQ(adult->held, baby);
  hold(SDL_SCANCODE_RIGHT, false);
  hold(SDL_SCANCODE_D, false);

  // Left and A together move once, not twice; a diagonal is not normalised.
  hold(SDL_SCANCODE_UP);
  game_player_step(game);
  EXPECT_FLOAT_EQ(adult->x, -0.04f);
  EXPECT_FLOAT_EQ(adult->y, 0.04f);
}

TEST(game_rules, score_digits_show_the_rescues_times_420)
{
  loop_t *loop;
  game_t *game = harness_game(&loop);
  game->adult->rescued = 3;
  game->state = GAME_CAUGHT;
  harness_step(loop, game);
  ASSERT_EQ(game->state, (uint32_t)GAME_SCORE);
  EXPECT_TRUE(tableau_get_active(game->score));

  auto digits = harness_children(game->score, 0);
  ASSERT_EQ(digits.size(), 10u);
  const char *expected = "0000001260";
  // Each digit node shares the cached texture of its digit, so a node
  // showing digit d has the same texture as a node made for d.
  for (int i = 0; i < 10; i++) {
    EXPECT_STREQ(digits[i]->name, "score-digit");
    auto *tex_node = static_cast<tex_node_t *>(digits[i]->object);
    EXPECT_EQ(tex_node->model_x, game->digits[i]) << i;
    tableau_conf_t conf = {};
    conf.parent = game->root;
    conf.name = "probe";
    tableau_t *probe = digit_node_new(&conf, expected[i] - '0', game->digits[i]);
    EXPECT_EQ(static_cast<tex_node_t *>(probe->object)->tex, tex_node->tex) << "digit " << i;
    tableau_free(probe);
  }
  EXPECT_FLOAT_EQ(game->digits[0][12], -0.5f);
  EXPECT_FLOAT_EQ(game->digits[9][12], 0.4f);
  EXPECT_FLOAT_EQ(game->digits[9][0], 0.05f);
  EXPECT_FLOAT_EQ(game->digits[9][13], 0.0f);
}

TEST(game_rules, virus_infects_a_baby_which_stays_and_is_replaced)
{
  loop_t *loop;
  game_t *game = harness_game(&loop);
  harness_clear_field(game);
  entity_t *baby = first_baby(game);
  entity_t *virus = game->virus[0];
  harness_place(game, baby, 0.3f, 0.3f);
  tableau_set_active(virus->node, 1);
  harness_place(game, virus, 0.3f, 0.2f);
  size_t babies_before = harness_children(game->babies, 0).size();
  sounds_t before = sounds();

  update_viruses(loop, game);

  EXPECT_EQ(baby->kind, ENTITY_VIRUS);
  EXPECT_STREQ(baby->node->name, "baby-virus");
  EXPECT_TRUE(tableau_get_active(baby->node));
  EXPECT_EQ(baby->node->parent, game->viruses);
  EXPECT_FLOAT_EQ(baby->x, 0.3f);
  EXPECT_EQ(static_cast<tex_node_t *>(baby->node->object)->model_x, baby->model_x);
  // The same texture as the viruses'.
  EXPECT_EQ(static_cast<tex_node_t *>(baby->node->object)->tex,
            static_cast<tex_node_t *>(virus->node->object)->tex);
  EXPECT_EQ(since(before, INFECTED), 1u);
  // The old node left "babies", a new baby took its place elsewhere.
  EXPECT_EQ(harness_children(game->babies, 0).size(), babies_before);
  // The virus was sent away unseen.
  EXPECT_FALSE(tableau_get_active(virus->node));
  EXPECT_NE(virus->x, 0.3f);
  EXPECT_EQ(game->state, (uint32_t)GAME_PLAYING);

  // The infected baby infects an adult that walks into it.
  harness_place(game, game->adult, 0.26f, 0.3f);
  hold(SDL_SCANCODE_RIGHT);
  game_player_step(game);
  hold(SDL_SCANCODE_RIGHT, false);
  EXPECT_EQ(game->state, (uint32_t)GAME_CAUGHT);
  EXPECT_STREQ(game->adult->node->name, "adult-virus");
}

TEST(game_rules, rising_virus_catches_the_adult_but_not_its_baby)
{
  loop_t *loop;
  game_t *game = harness_game(&loop);
  harness_clear_field(game);
  entity_t *baby = first_baby(game);
  harness_place(game, baby, 0.0f, 0.0f);
  game->adult->held = baby;
  entity_t *virus = game->virus[3];
  tableau_set_active(virus->node, 1);
  harness_place(game, virus, 0.0f, -0.12f);
  sounds_t before = sounds();

  update_viruses(loop, game);

  EXPECT_EQ(game->state, (uint32_t)GAME_CAUGHT);
  EXPECT_STREQ(game->adult->node->name, "adult-virus");
  EXPECT_EQ(game->adult->node->parent, game->viruses);
  EXPECT_EQ(game->adult->kind, ENTITY_ADULT);
  EXPECT_EQ(since(before, ADULT_INFECTED), 1u);
  EXPECT_EQ(since(before, INFECTED), 0u);
  EXPECT_STREQ(baby->node->name, "baby");
  EXPECT_EQ(game->adult->held, baby);
}

TEST(game_rules, adult_walking_into_a_seen_virus_is_caught)
{
  game_t *game = harness_game();
  harness_clear_field(game);
  entity_t *adult = game->adult;
  entity_t *virus = game->virus[0];
  harness_place(game, virus, 0.2f, 0.0f);

  // An unseen virus is walked through.
  hold(SDL_SCANCODE_RIGHT);
  game_player_step(game);
  EXPECT_EQ(game->state, (uint32_t)GAME_PLAYING);

  tableau_set_active(virus->node, 1);
  sounds_t before = sounds();
  game_player_step(game);
  hold(SDL_SCANCODE_RIGHT, false);
  EXPECT_EQ(game->state, (uint32_t)GAME_CAUGHT);
  EXPECT_STREQ(adult->node->name, "adult-virus");
  EXPECT_EQ(since(before, ADULT_INFECTED), 1u);
  EXPECT_EQ(since(before, INFECTED), 0u);
}

TEST(game_rules, a_virus_met_by_the_adult_infects_the_carried_baby_too)
{
  game_t *game = harness_game();
  entity_t *baby = first_baby(game);
  entity_t *virus = game->virus[0];
  game->adult->held = baby;
  sounds_t before = sounds();

  // Unseen: nothing, and the search goes on.
  EXPECT_EQ(adult_search(game, virus->object, nullptr, nullptr, virus), (uint32_t)QTREE_CONTINUE);
  tableau_set_active(virus->node, 1);
  EXPECT_EQ(adult_search(game, virus->object, nullptr, nullptr, virus), (uint32_t)QTREE_HIT);
  EXPECT_EQ(game->state, (uint32_t)GAME_CAUGHT);
  EXPECT_STREQ(game->adult->node->name, "adult-virus");
  EXPECT_STREQ(baby->node->name, "baby-virus");
  EXPECT_EQ(baby->node->parent, game->viruses);
  EXPECT_EQ(since(before, ADULT_INFECTED), 1u);
  EXPECT_EQ(since(before, INFECTED), 1u);
  // The adult meets itself and goes on.
  EXPECT_EQ(adult_search(game, nullptr, nullptr, nullptr, game->adult), (uint32_t)QTREE_CONTINUE);
}

TEST(game_rules, television_holds_the_adult_until_timer_3_fires)
{
  loop_t *loop;
  game_t *game = harness_game(&loop);
  harness_clear_field(game);
  entity_t *adult = game->adult;
  entity_t *tv = game->tv;

  // A switched-off television is walked through.
  harness_place(game, tv, 0.3f, 0.0f);
  hold(SDL_SCANCODE_RIGHT);
  harness_place(game, adult, 0.2f, 0.0f);
  game_player_step(game);
  EXPECT_FALSE(adult->watching);

  // Switched on, as the virus step does it.
  loop_ticks_reset(loop, 3);
  tableau_set_active(tv->node, 1);
  uint32_t on_at = harness_now;
  game_player_step(game);
  EXPECT_TRUE(adult->watching);
  float x = adult->x;

  // Held still across updates until 3000 ms have passed.
  while (harness_now - on_at < GAME_TV_MS - GAME_STEP_MS) {
    harness_step(loop, game);
    ASSERT_TRUE(adult->watching) << harness_now - on_at;
    ASSERT_FLOAT_EQ(adult->x, x);
  }
  harness_step(loop, game);
  EXPECT_FALSE(adult->watching);
  EXPECT_FALSE(tableau_get_active(tv->node));
  harness_step(loop, game);
  hold(SDL_SCANCODE_RIGHT, false);
  EXPECT_GT(adult->x, x);
}

TEST(game_rules, viruses_alternate_seen_and_unseen_passes)
{
  loop_t *loop;
  game_t *game = harness_game(&loop);
  harness_clear_field(game);
  entity_t *virus = game->virus[5];
  EXPECT_FALSE(tableau_get_active(virus->node));

  // An unseen virus past the top re-enters seen from -1.19, same column.
  harness_place(game, virus, 0.7f, 1.205f);
  update_viruses(loop, game);
  EXPECT_TRUE(tableau_get_active(virus->node));
  EXPECT_FLOAT_EQ(virus->y, -1.19f);
  EXPECT_FLOAT_EQ(virus->x, 0.7f);
  EXPECT_FLOAT_EQ(virus->model_x[13], -1.19f);

  // A seen virus rises 0.01 a step: 1.195 -> 1.205, then goes unseen.
  harness_place(game, virus, 0.7f, 1.195f);
  update_viruses(loop, game);
  EXPECT_TRUE(tableau_get_active(virus->node));
  EXPECT_NEAR(virus->y, 1.205f, 1e-6);
  update_viruses(loop, game);
  EXPECT_FALSE(tableau_get_active(virus->node));
  EXPECT_LE(virus->y, 1.01f);
  EXPECT_GE(virus->y, -0.99f);
  EXPECT_NE(virus->x, 0.7f);
}

TEST(game_rules, adult_without_keys_never_moves_or_searches)
{
  loop_t *loop;
  game_t *game = harness_game(&loop);
  harness_clear_field(game);
  entity_t *baby = first_baby(game);
  harness_place(game, baby, 0.0f, 0.0f);
  for (int i = 0; i < 100; i++)
    harness_step(loop, game);
  EXPECT_EQ(game->adult->held, nullptr);
  EXPECT_FLOAT_EQ(game->adult->x, 0.0f);
  EXPECT_FLOAT_EQ(game->adult->y, 0.0f);
}

TEST(game_rules, missing_effects_leave_the_game_silent_but_playing)
{
  loop_t *loop = harness_start(false);
  loop_context_enter(loop, 2);
  auto *game = static_cast<game_t *>(loop_context(loop, 2));
  EXPECT_EQ(baby_infected_sfx, nullptr);
  EXPECT_EQ(baby_held_sfx, nullptr);
  EXPECT_EQ(baby_rescued_sfx, nullptr);
  EXPECT_EQ(adult_infected_sfx, nullptr);

  harness_clear_field(game);
  entity_t *baby = first_baby(game);
  harness_place(game, baby, 1.03f, 0.0f);
  harness_place(game, game->adult, 1.03f, 0.0f);
  sounds_t before = sounds();
  hold(SDL_SCANCODE_RIGHT);
  game_player_step(game);  // picks it up
  game_player_step(game);  // and carries it off
  hold(SDL_SCANCODE_RIGHT, false);
  EXPECT_EQ(game->adult->rescued, 1u);
  for (int i = 0; i < SFX_CNT; i++)
    EXPECT_EQ(since(before, i), 0u) << i;
}
