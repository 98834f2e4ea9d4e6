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
  sounds_t() { memcpy(n, sfx_started, sizeof n); }
  // How many of an effect were started since this was taken.
  uint32_t since(int which) const { return sfx_started[which] - n[which]; }
};

void hold(SDL_Scancode scancode, bool down = true)
{
  harness_keys[scancode] = down ? 1 : 0;
}

// One player step with a key held down.
void step_holding(game_t *game, SDL_Scancode scancode)
{
  hold(scancode);
  game_player_step(game);
  hold(scancode, false);
}

entity_t *first_baby(game_t *game)
{
  return harness_entity(harness_children(game->babies, 0).front());
}

tex_t *tex_of(entity_t *e)
{
  return static_cast<tex_node_t *>(e->node->object)->tex;
}

}  // namespace

TEST(game_rules, adult_picks_up_a_touched_baby_once_and_opposite_keys_cancel)
{
  game_t *game = harness_game();
  harness_clear_field(game);
  auto babies = harness_children(game->babies, 0);
  entity_t *a = harness_entity(babies[0]);
  entity_t *b = harness_entity(babies[1]);
  harness_place(game, a, 0.05f, 0.0f);

  // Without a key the adult does not search.
  game_player_step(game);
  EXPECT_EQ(game->adult->held, nullptr);

  // Opposite keys cancel, but the step and its search still run.
  sounds_t before;
  for (SDL_Scancode k : {SDL_SCANCODE_LEFT, SDL_SCANCODE_A, SDL_SCANCODE_RIGHT, SDL_SCANCODE_D})
    hold(k);
  game_player_step(game);
  EXPECT_FLOAT_EQ(game->adult->x, 0.0f);
  EXPECT_FLOAT_EQ(game->adult->y, 0.0f);
  EXPECT_EQ(game->adult->held, a);
  EXPECT_EQ(before.since(HELD), 1u);
  hold(SDL_SCANCODE_RIGHT, false);
  hold(SDL_SCANCODE_D, false);

  // Left and A together move once; a diagonal is not normalised. A second
  // baby under an adult that already carries one is not taken.
  harness_place(game, b, -0.04f, 0.04f);
  hold(SDL_SCANCODE_UP);
  game_player_step(game);
  hold(SDL_SCANCODE_UP, false);
  hold(SDL_SCANCODE_LEFT, false);
  hold(SDL_SCANCODE_A, false);
  EXPECT_FLOAT_EQ(game->adult->x, -0.04f);
  EXPECT_FLOAT_EQ(game->adult->y, 0.04f);
  EXPECT_EQ(game->adult->held, a);
  EXPECT_EQ(before.since(HELD), 1u);
}

TEST(game_rules, carried_baby_follows_and_is_rescued_past_each_edge)
{
  game_t *game = harness_game();
  harness_clear_field(game);
  entity_t *adult = game->adult;
  entity_t *baby = first_baby(game);

  // Carried inside the line, the baby moves with the adult.
  harness_place(game, adult, 0.5f, 0.5f);
  harness_place(game, baby, 0.5f, 0.5f);
  adult->held = baby;
  step_holding(game, SDL_SCANCODE_UP);
  EXPECT_EQ(adult->held, baby);
  EXPECT_FLOAT_EQ(baby->y, 0.54f);
  EXPECT_FLOAT_EQ(baby->model_x[13], 0.54f);
  EXPECT_EQ(adult->rescued, 0u);

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
    SCOPED_TRACE(testing::Message() << "edge " << edge.x << "," << edge.y);
    // Just inside the rescue line, one step carries the baby past it.
    harness_place(game, adult, edge.x, edge.y);
    harness_place(game, baby, edge.x, edge.y);
    adult->held = baby;
    sounds_t before;
    step_holding(game, edge.key);
    EXPECT_EQ(adult->held, nullptr);
    EXPECT_EQ(adult->rescued, ++rescued);
    EXPECT_EQ(before.since(RESCUED), 1u);
    EXPECT_EQ(baby->kind, ENTITY_BABY);
    // Put back somewhere on the field, no longer at the adult.
    EXPECT_TRUE(baby->x != adult->x || baby->y != adult->y);
    EXPECT_TRUE(baby->x >= -1.0f && baby->x <= 1.0f && baby->y >= -1.0f && baby->y <= 1.0f);
  }

  // The adult stops at 1.1, past the line.
  harness_place(game, adult, 1.02f, 0.0f);
  hold(SDL_SCANCODE_RIGHT);
  for (int i = 0; i < 5; i++)
    game_player_step(game);
  hold(SDL_SCANCODE_RIGHT, false);
  EXPECT_FLOAT_EQ(adult->x, 1.1f);
  EXPECT_FLOAT_EQ(adult->model_x[12], 1.1f);
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
  // A node showing digit d shares the cached texture of a node made for d.
  const char *expected = "0000001260";
  for (int i = 0; i < 10; i++) {
    auto *tex_node = static_cast<tex_node_t *>(digits[i]->object);
    EXPECT_EQ(tex_node->model_x, game->digits[i]) << i;
    tableau_conf_t conf = {};
    conf.parent = game->root;
    conf.name = "probe";
    tableau_t *probe = digit_node_new(&conf, expected[i] - '0', game->digits[i]);
    EXPECT_EQ(static_cast<tex_node_t *>(probe->object)->tex, tex_node->tex) << "digit " << i;
    tableau_free(probe);
  }
  // Left to right.
  EXPECT_FLOAT_EQ(game->digits[0][12], -0.5f);
  EXPECT_FLOAT_EQ(game->digits[9][12], 0.4f);
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
  sounds_t before;

  update_viruses(loop, game);

  EXPECT_EQ(baby->kind, ENTITY_VIRUS);
  EXPECT_STREQ(baby->node->name, "baby-virus");
  EXPECT_EQ(baby->node->parent, game->viruses);
  EXPECT_FLOAT_EQ(baby->x, 0.3f);
  EXPECT_EQ(tex_of(baby), tex_of(virus));
  EXPECT_EQ(before.since(INFECTED), 1u);
  // A new baby took its place among "babies".
  EXPECT_EQ(harness_children(game->babies, 0).size(), babies_before);
  // The virus was sent away unseen.
  EXPECT_FALSE(tableau_get_active(virus->node));
  EXPECT_NE(virus->x, 0.3f);
  EXPECT_EQ(game->state, (uint32_t)GAME_PLAYING);

  // The infected baby catches an adult that walks into it.
  harness_place(game, game->adult, 0.26f, 0.3f);
  step_holding(game, SDL_SCANCODE_RIGHT);
  EXPECT_EQ(game->state, (uint32_t)GAME_CAUGHT);
  EXPECT_STREQ(game->adult->node->name, "adult-virus");
}

TEST(game_rules, only_a_seen_virus_catches_the_adult_and_a_rising_one_spares_its_baby)
{
  loop_t *loop;
  game_t *game = harness_game(&loop);
  harness_clear_field(game);
  entity_t *baby = first_baby(game);
  harness_place(game, baby, 0.0f, 0.0f);
  game->adult->held = baby;
  entity_t *virus = game->virus[3];

  // An unseen virus is walked through.
  harness_place(game, virus, 0.04f, 0.0f);
  step_holding(game, SDL_SCANCODE_RIGHT);
  EXPECT_EQ(game->state, (uint32_t)GAME_PLAYING);

  // A seen one rising into the adult catches it but leaves the baby.
  tableau_set_active(virus->node, 1);
  harness_place(game, virus, game->adult->x, -0.12f);
  sounds_t before;
  update_viruses(loop, game);
  EXPECT_EQ(game->state, (uint32_t)GAME_CAUGHT);
  EXPECT_STREQ(game->adult->node->name, "adult-virus");
  EXPECT_EQ(game->adult->node->parent, game->viruses);
  EXPECT_EQ(game->adult->kind, ENTITY_ADULT);
  EXPECT_EQ(before.since(ADULT_INFECTED), 1u);
  EXPECT_EQ(before.since(INFECTED), 0u);
  EXPECT_STREQ(baby->node->name, "baby");
  EXPECT_EQ(game->adult->held, baby);

}

TEST(game_rules, a_virus_met_by_the_adult_infects_the_carried_baby_too)
{
  game_t *game = harness_game();
  entity_t *baby = first_baby(game);
  entity_t *virus = game->virus[0];
  game->adult->held = baby;
  sounds_t before;
  EXPECT_EQ(adult_search(game, virus->object, nullptr, nullptr, virus), (uint32_t)QTREE_CONTINUE);
  tableau_set_active(virus->node, 1);
  EXPECT_EQ(adult_search(game, virus->object, nullptr, nullptr, virus), (uint32_t)QTREE_HIT);
  EXPECT_EQ(game->state, (uint32_t)GAME_CAUGHT);
  EXPECT_STREQ(baby->node->name, "baby-virus");
  EXPECT_EQ(before.since(ADULT_INFECTED), 1u);
  EXPECT_EQ(before.since(INFECTED), 1u);
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

  // A seen virus rises 0.01 a step: 1.195 -> 1.205, then goes unseen from
  // a random place.
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
  harness_place(game, first_baby(game), 1.03f, 0.0f);
  harness_place(game, game->adult, 1.03f, 0.0f);
  sounds_t before;
  step_holding(game, SDL_SCANCODE_RIGHT);  // picks it up
  step_holding(game, SDL_SCANCODE_RIGHT);  // and carries it off
  EXPECT_EQ(game->adult->rescued, 1u);
  for (int i = 0; i < SFX_CNT; i++)
    EXPECT_EQ(before.since(i), 0u) << i;
}
