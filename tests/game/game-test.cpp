// The game context driven in-process: the rules as one table of scenarios, the playfield that a
// reset builds, the states through the real main loop with the score, Escape, the sound effects.
#include "harness.hpp"

#include "digit-node.hpp"

#include <malloc.h>

namespace {

// "T", "A", "V0".."V7", "B0".. by record.
std::string tag(game_t *game, const entity_t *e)
{
  long i = ((char *)e - (char *)game->tv) / ((char *)game->adult - (char *)game->tv);
  return i == 0 ? "T" : i == 1 ? "A"
                    : i < 10   ? "V" + std::to_string(i - 2)
                               : "B" + std::to_string(i - 10);
}

// The state (t3: timer 3 restarted), then every entity inside the square: its tag (with its kind
// and node name where they are not the tag's), switched on or off, place, and for the adult what it
// holds, rescued or watches; then the effects played. On the way, checks what every record keeps
// true: one sprite node drawing through its matrix, the size of its kind, a matrix and a box that
// follow its place and size, the same box in the quadtree.
std::string observe(loop_t *loop, game_t *game)
{
  std::string out = "s" + std::to_string(game->state) + (loop->ticks[3] == harness_now ? " t3" : "");
  const size_t records = game->arena->chunk->next_offset / ((char *)game->adult - (char *)game->tv);
  EXPECT_EQ(harness_children(game->node, 1).size() + harness_children(game->node, 3).size() +
                harness_children(game->babies, 0).size() + harness_children(game->viruses, 0).size(),
            records);
  for (size_t i = 0; i < records; i++) {
    entity_t *e = harness_record(game, i);
    const float s = e->sx, m[16] = {s, 0, 0, 0, 0, s, 0, 0, 0, 0, s, 0, e->x, e->y, 0, 1};
    const aabb_t box = {{e->x - 2 * s, e->y - s}, {e->x + s, e->y + s}};
    // A virus sent away unseen is placed by its next step, before it takes part in any search.
    const bool sent_away = e->kind == ENTITY_VIRUS && !tableau_get_active(e->node) && e->x != e->model_x[12];
    EXPECT_TRUE(s == (i ? i == 1 ? .07f : .05f : .15f) && e->sy == s && e->sz == s &&
                static_cast<tex_node_t *>(e->node->object)->model_x == e->model_x &&
                (sent_away || (!memcmp(m, e->model_x, sizeof m) && !memcmp(&box, &e->aabb, sizeof box) &&
                               !memcmp(&box, &e->object->aabb, sizeof box))))
        << tag(game, e);
    const std::string t = tag(game, e), own[] = {"baby", "adult", "virus", "tv"}, name = e->node->name;
    const size_t k = std::string("BAVT").find(t[0]);  // the tag's own kind, and its node's name
    char line[128];
    const char *kind_mark = k == e->kind ? "" : ":0\0:1\0:2\0:3" + 3 * e->kind;
    const char active = tableau_get_active(e->node) ? '+' : '-';
    snprintf(line, sizeof line, "; %s%s%s%c %g,%g", t.c_str(), kind_mark, name == own[k] ? "" : (" " + name).c_str(), active, e->x, e->y);
    const std::string held = e->held ? " h" + tag(game, e->held) : "";
    const std::string count = e->rescued ? " r" + std::to_string(e->rescued) : e->watching ? " w1"
                                                                                           : "";
    out += fabsf(e->x) > 4 ? "" : line + held + count;
  }
  return out + "; " + harness_sounds;
}

// The name, + or - for active (and the opacity unless 1), then each non-empty layer in order.
std::string dump(tableau_t *node)
{
  std::string out = node->name + std::string("-+").substr(tableau_get_active(node), 1);
  out += tableau_get_alpha(node) == 1.0f ? "" : "@" + std::to_string(tableau_get_alpha(node));
  for (int layer = 0; layer < TABLEAU_LAYERS_MAX; layer++)
    for (tableau_t *child : harness_children(node, layer))
      out += (child == harness_children(node, layer)[0] ? " " + std::to_string(layer) + "[" : " ") + dump(child) +
             (child == harness_children(node, layer).back() ? "]" : "");
  return out;
}

struct rule_t {
  const char *places;        // "tag x,y ..." placed in this order, which is the quadtree's within a leaf; a
                             // "+" switches the node on (the adult's: watching), a "*" is the baby carried
  const char *steps;         // keys held (<>^v the arrows, wasd), then the steps: V the
                             // virus step, P the player step, U game_update with the timers listed due
  std::vector<float> draws;  // what rand() returns, in units of 2^30
  const char *want;
};

const rule_t RULES[] = {
    // no key held: the adult neither moves nor searches
    {"B0 .05,0", "P", {}, "s0; A+ 0,0; B0+ 0.05,0; "},
    // opposite keys cancel and the step still runs: a touched baby is picked up
    {"B0 .05,0", "<a>d P", {}, "s0; A+ 0,0 hB0; B0+ 0.05,0; baby-held "},
    // a diagonal is not normalised, the carried baby follows, a second one is not taken
    {"B0* 0,0 B1 -.04,.04", "<^ P", {}, "s0; A+ -0.04,0.04 hB0; B0+ -0.04,0.04; B1+ -0.04,0.04; "},
    // rescue past each edge: the baby back at a random x, then y; the adult stops at 1.1
    {"A 1.08,0 B0* 1.08,0", "d P", {1.25, .5}, "s0; A+ 1.1,0 r1; B0+ 0.25,-0.5; baby-rescued "},
    {"A -1.08,0 B0* -1.08,0", "a P", {1.5, .75}, "s0; A+ -1.1,0 r1; B0+ 0.5,-0.25; baby-rescued "},
    {"A 0,1.03 B0* 0,1.03", "w P", {.25, 1.75}, "s0; A+ 0,1.07 r1; B0+ -0.75,0.75; baby-rescued "},
    {"A 0,-1.03 B0* 0,-1.03", "s P", {1.125, .875}, "s0; A+ 0,-1.07 r1; B0+ 0.125,-0.125; baby-rescued "},
    // on the rescue line nothing is rescued (its boundary on the other side is alike)
    {"A -1.01,-1.01 B0* -1.01,-1.01", "<v P", {}, "s0; A+ -1.05,-1.05 hB0; B0+ -1.05,-1.05; "},
    // an unseen virus and a switched-off television are walked through
    {"V0 .1,0 T .3,0", "> P", {}, "s0; T- 0.3,0; A+ 0.04,0; V0- 0.1,0; "},
    {"T .05,0 B0 .05,0", "> P", {}, "s0; T- 0.05,0; A+ 0.04,0 hB0; B0+ 0.05,0; baby-held "},
    // a seen virus met by the adult infects it, then the baby it carries
    {"V0+ .1,0 B0* 0,0", "> P", {}, "s1; A adult-virus+ 0.04,0 hB0; V0+ 0.1,0; B0 baby-virus+ 0.04,0; adult-infected baby-infected "},
    // the carried baby, handed over first (a quadrant above the virus's), shields the adult
    {"B1 -.8,.8 B2 .8,-.8 V0+ .06,-.055 A .06,.06 B0* .06,.06", "<> P", {}, "s0; A+ 0.06,0.06 hB0; V0+ 0.06,-0.055; B0+ 0.06,0.06; B1+ -0.8,0.8; B2+ 0.8,-0.8; "},
    // a virus infects the carried baby (a new baby at x then y, the virus away unseen at y then x);
    // the adult's next step meets that baby, now a virus, and is infected with it
    {"B0* 0,0 A 0,0 V0+ 0,-.1", "> VP", {0, 1.5, 1.25, .5, 1.75}, "s1; A adult-virus+ 0.04,0 hB0; V0- 0.75,-0.5; B0:2 baby-virus+ 0.04,0; B10+ 0.5,0.25; "
                                                                  "baby-infected adult-infected baby-infected "},
    // a seen virus rising into the adult catches it and leaves its baby
    {"A 0,0 B0* 0,0 V0+ 0,-.12", "V", {0}, "s1; A adult-virus+ 0,0 hB0; V0+ 0,-0.11; B0+ 0,0; adult-infected "},
    // passes alternate past 1.2, not at it (the unseen one rises from y then x); an unseen virus does not search
    {"V0+ .7,1.205 V1 -.7,1.205 V2+ 0,1.2 V3 .3,.2 B0 .3,.3", "V", {0, .5, 1.75}, "s0; A+ 0,0; V0- 0.75,-0.49; V1+ -0.7,-1.19; V2+ 0,1.21; V3- 0.3,0.21; B0+ 0.3,0.3; "},
    // a draw above 1.95 switches the television on at x then y
    {"", "V", {nextafterf(1.95f, 2), 1.5, .25}, "s0 t3; T+ 0.5,-0.75; A+ 0,0; "},
    // a draw of 1.95 does not; timer 1 alone runs the virus step
    {"V0 .5,.5", "> U1", {1.95f}, "s0; A+ 0,0; V0- 0.5,0.51; "},
    // a television already on stays put; an adult walking into it watches it and moves no more
    {"T+ .3,0", "> VPP", {1.99f}, "s0; T+ 0.3,0; A+ 0.04,0 w1; "},
    // timer 3 alone switches the television off and frees the adult
    {"T+ .3,0 A+ 0,0 V0 .5,.5", "> U3", {}, "s0 t3; T- 0.3,0; A+ 0,0; V0- 0.5,0.5; "},
    // the player step still runs after the virus step caught the adult, and infects it again
    {"T+ -.5,-.5 V0+ 0,-.12", "> U14", {0}, "s1; T+ -0.5,-0.5; A adult-virus+ 0.04,0; V0+ 0,-0.11; adult-infected adult-infected "},
};

}  // namespace

TEST(game_rules, scenarios_from_placed_entities_keys_and_draws)
{
  loop_t *loop;
  for (const rule_t &rule : RULES) {
    game_t *game = harness_game(&loop);
    char t[8];
    float x, y;
    int n;
    for (const char *p = rule.places; sscanf(p, "%7s %f,%f%n", t, &x, &y, &n) == 3; p += n) {
      entity_t *e = harness_record(game, t[0] == 'T' ? 0 : t[0] == 'A' ? 1
                                                                       : (t[0] == 'V' ? 2 : 10) + t[1] - '0');
      harness_place(game, e, x, y);
      (void)(strchr(t, '+') && (e == game->adult ? e->watching = 1 : (tableau_set_active(e->node, 1), 1)));
      game->adult->held = strchr(t, '*') ? e : game->adult->held;
    }
    const char *step = rule.steps;
    for (const char *arrows = "><v^"; *step && strchr("<>^vadws", *step); step++)  // arrows: scancodes in a row
      harness_keys[strchr(arrows, *step) ? SDL_SCANCODE_RIGHT + int(strchr(arrows, *step) - arrows)
                                         : SDL_GetScancodeFromName(std::string(1, *step).c_str())] = 1;
    for (float r : rule.draws) harness_rand.push_back(r * (1 << 30));
    for (unsigned t : {1u, 3u, 4u})
      loop->ticks[t] = harness_now - (t == 3 ? GAME_TV_MS : GAME_STEP_MS) + !strchr(step, '0' + t);
    for (; *step; step = *step == 'U' ? "" : step + 1)
      *step == 'V' ? update_viruses(loop, game) : *step == 'P' ? game_player_step(game)
                                              : *step == 'U'   ? game_update(loop, game)
                                                               : void();
    memset(harness_keys, 0, sizeof harness_keys);
    EXPECT_EQ(observe(loop, game), rule.want) << rule.places << " | " << rule.steps;
    EXPECT_TRUE(harness_rand.empty()) << harness_rand.size() << " draws left: " << rule.places;
  }
  EXPECT_EQ(memcmp(sfx_started, harness_played, sizeof harness_played), 0);
}

TEST(game_playfield, reset_builds_the_subtree_and_the_records_in_order_from_the_draws)
{
  loop_t *loop;
  game_t *game = harness_game(&loop);
  for (int k = 0; k < 36; k++)
    harness_rand.push_back((k % 15 + 1) << 27);  // the coordinates -0.875, -0.75 .. 0.875, -0.875 ..
  game_reset(game);
  auto top = harness_children(game->root, 0);
  EXPECT_EQ(dump(top[top.size() - 2]) + " " + dump(top.back()),
            "plasma+ game+ 1[tv-] 3[adult+] 4[babies+ 0[baby+ baby+ baby+ baby+ baby+ baby+ baby+ baby+ baby+ baby+]] "
            "5[viruses+ 0[virus- virus- virus- virus- virus- virus- virus- virus-]] 7[score-]");
  // Each virus draws y, then x; each baby x, then y.
  EXPECT_EQ(observe(loop, game),
            "s0; T- 0,0; A+ 0,0; V0- -0.75,-0.875; V1- -0.5,-0.625; V2- -0.25,-0.375; V3- 0,-0.125; V4- 0.25,0.125; "
            "V5- 0.5,0.375; V6- 0.75,0.625; V7- -0.875,0.875; B0+ -0.75,-0.625; B1+ -0.5,-0.375; B2+ -0.25,-0.125; "
            "B3+ 0,0.125; B4+ 0.25,0.375; B5+ 0.5,0.625; B6+ 0.75,0.875; B7+ -0.875,-0.75; B8+ -0.625,-0.5; "
            "B9+ -0.375,-0.25; ");
  // A new playfield gives back all the last one held: its nodes, its records and its arena's chunks.
  const size_t held = mallinfo2().uordblks;  // (0 under AddressSanitizer, which keeps its own books)
  for (int i = 0; i < 20; i++)
    game_reset(game);
  EXPECT_LT(mallinfo2().uordblks, held + 16384);
}

TEST(game_flow, caught_shows_the_score_at_once_ignores_keys_for_a_second_then_any_key_restarts)
{
  loop_t *loop;
  game_t *game = harness_game(&loop);
  // On entry: the game's tune repeated and kept, timer 1 (not the plasma's timer 0) restarted.
  EXPECT_TRUE(!strcmp(loop->music_file, "assets/game.ogg") && loop->music_flags == (LOOP_MUSIC_REPEAT | LOOP_MUSIC_KEEP) && harness_entered_ticks[1] == 5000 && harness_entered_ticks[0] != 5000);
  tableau_t *first = game->node;
  tableau_set_active(game->virus[0]->node, 1);
  harness_place(game, game->virus[0], 0, -0.12f), game->adult->rescued = 10225502;  // 4294710840 points
  // Frames of ms with a key event, and the state after: caught by the virus step (a key does
  // nothing); the score at once (Escape released does nothing); keys ignored for 1000 ms; then a
  // released key does nothing, a pressed one restarts.
  const std::tuple<uint32_t, uint32_t, SDL_Keycode, uint32_t> FRAMES[] = {
      {20, SDL_KEYDOWN, SDLK_x, GAME_CAUGHT}, {1, SDL_KEYUP, SDLK_ESCAPE, GAME_SCORE}, {999, SDL_KEYDOWN, SDLK_x, GAME_SCORE}, {1, 0, 0, GAME_WAITING}, {5000, SDL_KEYUP, SDLK_x, GAME_WAITING}, {1, SDL_KEYDOWN, SDLK_x, GAME_PLAYING}};
  for (auto [ms, type, key, state] : FRAMES) {
    harness_now += ms, harness_frame(loop, type, key);
    EXPECT_TRUE(game->state == state && tableau_get_active(game->score) == (state >= GAME_SCORE) &&
                harness_children(game->score, 0).size() == (state >= GAME_SCORE ? 10u : 0u))
        << ms;
    EXPECT_TRUE(state ? game->virus[0]->y == -0.11f && game->node == first : game->node != first);
    for (int i = 0; i < GAME_DIGITS && ms == 999; i++) {
      // A node showing digit d shares the cached texture of any node made for d.
      tableau_conf_t conf = {game->root, 0, "probe", 1.0f, 0, 0, 0};
      tableau_t *probe = digit_node_new(&conf, "4294710840"[i] - '0', game->digits[i]);
      const float m[16] = {.05f, 0, 0, 0, 0, .05f, 0, 0, 0, 0, .05f, 0, i * 0.1f - 0.5f, 0, 0, 1};
      tableau_t *digit = harness_children(game->score, 0).at(i);
      auto *node = static_cast<tex_node_t *>(digit->object);
      EXPECT_TRUE(static_cast<tex_node_t *>(probe->object)->tex == node->tex && node->model_x == game->digits[i] &&
                  !memcmp(m, game->digits[i], sizeof m) && dump(digit) == "score-digit+")
          << i;
      tableau_free(probe);
    }
  }
  game->root->dirty = 0, game_update(loop, game);  // the plasma moves: every frame is drawn
  EXPECT_TRUE(game->root->dirty);
}

TEST(game_flow, escape_ends_the_process_with_status_0_in_every_state)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (uint32_t state : {GAME_PLAYING, GAME_SCORE, GAME_WAITING}) {
    loop_t *loop;
    EXPECT_EXIT((harness_game(&loop)->state = state, harness_frame(loop, SDL_KEYDOWN, SDLK_ESCAPE), _exit(3)),
                ::testing::ExitedWithCode(0), "")
        << state;
  }
}

TEST(game_sfx, each_effect_loads_its_own_file_once_and_the_mixer_frees_the_stream)
{
  harness_game();
  harness_loads.clear(), sfx_load();
  EXPECT_EQ(harness_loads, "; assets/baby-infected.wav rb 1; assets/baby-held.wav rb 1; assets/baby-rescued.wav rb 1; "
                           "assets/adult-infected.wav rb 1");
}
