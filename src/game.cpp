// game: playfield, rules, input and score of the game context.
//
// [SECTION] helpers: random values, node creation, infection
// [SECTION] context operations: init, enter, leave, update, dispatch
// [SECTION] playfield: reset, babies, entity placement
// [SECTION] rules: virus step, player step, search callbacks
// [SECTION] score display
#include "game.hpp"

#include "app.hpp"
#include "digit-node.hpp"
#include "fever.hpp"
#include "loop/fatal.hpp"
#include "plasma-node.hpp"
#include "sfx.hpp"
#include "sprite-node.hpp"

#include <cassert>
#include <cfloat>
#include <cstdlib>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

const uint8_t *sdl_keyboard(void)
{
  return SDL_GetKeyboardState(nullptr);
}

}  // namespace

const uint8_t *(*game_keyboard)(void) = sdl_keyboard;

// ---------------------------------------------------------------------------
// [SECTION] helpers
// ---------------------------------------------------------------------------

namespace {

constexpr float RAND_SCALE = 9.313226e-10f;  // 2^-30: rand() (0 .. 2^31 - 1) to 0 .. 2
constexpr float TV_CHANCE = 1.95f;           // a draw above it switches the tv on: ~1 in 40
constexpr float VIRUS_RISE = 0.01f;
constexpr float VIRUS_TOP = 1.2f;      // strictly above: past the top edge
constexpr float VIRUS_ENTRY = -1.19f;  // a seen pass starts just below the bottom
constexpr float ADULT_SPEED = 0.04f;
constexpr float ADULT_LIMIT = 1.1f;
constexpr float RESCUE_LINE = 1.05f;

float random_coordinate(void)
{
  return (float)rand() * RAND_SCALE - 1.0f;
}

tableau_conf_t conf_of(tableau_t *parent, int layer, const char *name, int active)
{
  tableau_conf_t conf = {};
  conf.parent = parent;
  conf.layer = layer;
  conf.name = name;
  conf.alpha = 1.0f;
  conf.active = active ? 1 : 0;
  return conf;
}

tableau_t *group_new(tableau_t *parent, int layer, const char *name, int active)
{
  tableau_conf_t conf = conf_of(parent, layer, name, active);
  tableau_t *node = tableau_new(&conf, nullptr, nullptr);
  if (!node)
    loop_fatal("Fatal error: Unable to create tableau \"%s\"\n", name);
  return node;
}

entity_t *entity_new(game_t *game, const char *record)
{
  auto *entity = static_cast<entity_t *>(arena_get(game->arena, sizeof(entity_t)));
  if (!entity)
    loop_fatal("Fatal error: unale to allocate %s\n", record);
  return entity;
}

// What sets the kinds of entity apart when they are made: the record's name
// for the fatal message, the sprite, its node's name, layer and visibility
// under its parent, and its half-size.
struct entity_kind_t {
  uint32_t kind;
  const char *record;
  tableau_t *(*node_new)(const tableau_conf_t *conf, const float *model_x);
  const char *name;
  int layer;
  int active;
  float half;
};

constexpr entity_kind_t TV_KIND = {ENTITY_TV, "tv_t", tv_node_new, "tv", 1, 0, 0.15f};
constexpr entity_kind_t ADULT_KIND = {ENTITY_ADULT, "adult_t", adult_node_new, "adult", 3, 0,
                                      0.07f};
constexpr entity_kind_t VIRUS_KIND = {ENTITY_VIRUS, "virus_t", virus_node_new, "virus", 0, 0,
                                      0.05f};
constexpr entity_kind_t BABY_KIND = {ENTITY_BABY, "baby_t", baby_node_new, "baby", 0, 1, 0.05f};

// A record of the kind with its sprite node under parent, at the centre
// until the caller places it.
entity_t *entity_make(game_t *game, const entity_kind_t &kind, tableau_t *parent)
{
  entity_t *entity = entity_new(game, kind.record);
  entity->kind = kind.kind;
  tableau_conf_t conf = conf_of(parent, kind.layer, kind.name, kind.active);
  entity->node = kind.node_new(&conf, entity->model_x);
  entity->sx = kind.half;
  entity->sy = kind.half;
  entity->sz = kind.half;
  return entity;
}

// An infected entity keeps its record, place and size; only its picture
// changes, and it moves among the viruses so that it is drawn with them.
void infect(game_t *game, entity_t *entity, const char *name)
{
  tableau_free(entity->node);
  tableau_conf_t conf = conf_of(game->viruses, 0, name, 1);
  entity->node = virus_node_new(&conf, entity->model_x);
}

}  // namespace

void random_position(float *x, float *y)
{
  *y = random_coordinate();
  *x = random_coordinate();
}

// ---------------------------------------------------------------------------
// [SECTION] context operations
// ---------------------------------------------------------------------------

game_t *game_init(loop_t *loop, int, char **)
{
  auto *fever = static_cast<fever_t *>(loop_context(loop, APP_SHELL));
  assert(fever);

  auto *game = static_cast<game_t *>(calloc(1, sizeof(game_t)));
  if (!game)
    loop_fatal("Fatal error: Unable to allocate game_t\n");
  game->root = fever->root;

  tableau_conf_t conf = conf_of(game->root, 0, "plasma", 0);
  game->plasma = plasma_node_new(&conf);

  game->qtree =
      qtree_new(nullptr, GAME_QTREE_MAX_OBJECTS, GAME_QTREE_MAX_DEPTH, GAME_QTREE_MAX_ASIP);
  if (!game->qtree)
    loop_fatal("Fatal error: Unable to allocate qtree_t\n");

  for (int i = 0; i < GAME_DIGITS; i++) {
    float *m = game->digits[i];
    m[0] = m[5] = m[10] = 0.05f;
    m[12] = (float)i * 0.1f - 0.5f;
    m[15] = 1.0f;
  }

  sfx_load();
  return game;
}

void game_enter(loop_t *loop, game_t *game)
{
  assert(game);
  // KEEP: entering again (it never happens) or restarting must not cut the tune.
  loop_music_set(loop, LOOP_MUSIC_REPEAT | LOOP_MUSIC_KEEP, "assets/game.ogg");
  loop_ticks_reset(loop, APP_TIMER_VIRUS_STEP);
  tableau_set_active(game->plasma, 1);
  game_reset(game);
}

void game_leave(loop_t *, game_t *) {}

namespace {

void score_show(game_t *game);

}  // namespace

void game_update(loop_t *loop, game_t *game)
{
  auto *fever = static_cast<fever_t *>(loop_context(loop, APP_SHELL));
  assert(game);
  assert(fever);

  switch (game->state) {
  case GAME_PLAYING:
    // The three checks are independent: an infection by the virus step does
    // not stop the player step or the switch-off of the same frame.
    if (loop_ticks_elapsed(loop, APP_TIMER_VIRUS_STEP, GAME_STEP_MS))
      update_viruses(loop, game);
    if (loop_ticks_elapsed(loop, APP_TIMER_PLAYER_STEP, GAME_STEP_MS))
      game_player_step(game);
    if (loop_ticks_elapsed(loop, APP_TIMER_TV, GAME_TV_MS)) {
      tableau_set_active(game->tv->node, 0);
      game->adult->watching = 0;
    }
    break;
  case GAME_CAUGHT:
    score_show(game);
    loop_ticks_reset(loop, APP_TIMER_SCORE);
    game->state = GAME_SCORE;
    break;
  case GAME_SCORE:
    if (loop_ticks_elapsed(loop, APP_TIMER_SCORE, GAME_SCORE_MS))
      game->state = GAME_WAITING;
    break;
  case GAME_WAITING:
    break;
  default:
    assert(0);
  }

  // The plasma moves on every frame, so every frame is drawn.
  tableau_dirty(fever->root);
}

void game_dispatch(loop_t *loop, game_t *game, const SDL_Event *event)
{
  fever_dispatch(loop, game, event);
  if (event->type != SDL_KEYDOWN)
    return;
  if (event->key.keysym.sym == SDLK_ESCAPE)
    exit(0);
  if (game->state == GAME_WAITING)
    game_reset(game);
}

// ---------------------------------------------------------------------------
// [SECTION] playfield
// ---------------------------------------------------------------------------

namespace {

// Release the last playfield, if any: its objects in the quadtree, its
// nodes, its records.
void playfield_drop(game_t *game)
{
  // The objects go first: the quadtree must not keep pointers into the
  // records that the arena is about to release.
  qtree_reset(game->qtree);
  tableau_free(game->node);
  if (game->arena)
    arena_free(game->arena);
#ifdef __GLIBC__
  // Every frame the GL driver takes and frees scratch blocks of its own, and
  // glibc keeps the pages they leave free in the heap, so a long session's
  // resident memory creeps up to the highest any frame ever needed. Nothing
  // is in flight between two playfields: hand those pages back here.
  malloc_trim(0);
#endif
}

}  // namespace

void game_reset(game_t *game)
{
  playfield_drop(game);

  game->node = group_new(game->root, 0, "game", 1);
  game->babies = group_new(game->node, 4, "babies", 0);
  game->viruses = group_new(game->node, 5, "viruses", 0);
  game->score = group_new(game->node, 7, "score", 0);

  game->arena = arena_new(GAME_ARENA_CHUNK_SIZE, ARENA_ZERO_FILL);
  if (!game->arena)
    loop_fatal("Fatal error: Unable to allocate arena_t\n");

  // Made in this order so that the quadtree receives them in this order.
  game->tv = entity_make(game, TV_KIND, game->node);
  entity_update(game->qtree, game->tv);
  game->adult = entity_make(game, ADULT_KIND, game->node);
  entity_update(game->qtree, game->adult);
  for (int i = 0; i < GAME_VIRUSES; i++) {
    entity_t *virus = entity_make(game, VIRUS_KIND, game->viruses);
    random_position(&virus->x, &virus->y);
    entity_update(game->qtree, virus);
    game->virus[i] = virus;
  }
  for (int i = 0; i < GAME_BABIES; i++)
    baby_new(game, game->babies);

  tableau_set_active(game->adult->node, 1);
  tableau_set_active(game->babies, 1);
  tableau_set_active(game->viruses, 1);
  game->state = GAME_PLAYING;
}

entity_t *baby_new(game_t *game, tableau_t *parent)
{
  entity_t *baby = entity_make(game, BABY_KIND, parent);
  // x before y, unlike random_position: the order of the draws is part of
  // what makes every run's first playfield the same.
  baby->x = random_coordinate();
  baby->y = random_coordinate();
  entity_update(game->qtree, baby);
  return baby;
}

void entity_update(qtree_t *qtree, entity_t *entity)
{
  float *m = entity->model_x;
  for (int i = 0; i < 16; i++)
    m[i] = 0.0f;
  m[0] = entity->sx;
  m[5] = entity->sy;
  m[10] = entity->sz;
  m[12] = entity->x;
  m[13] = entity->y;
  m[15] = 1.0f;

  // The collision box reaches twice the half-width to the left of the
  // centre and one to the right: wider than the sprite, and lopsided.
  static const float corners[8][2] = {
      {-2.0f, -1.0f}, {1.0f, -1.0f}, {-2.0f, 1.0f}, {1.0f, 1.0f},
      {-2.0f, -1.0f}, {1.0f, -1.0f}, {-2.0f, 1.0f}, {1.0f, 1.0f},
  };
  aabb_t box = {{FLT_MAX, FLT_MAX}, {-FLT_MAX, -FLT_MAX}};
  for (const auto &corner : corners) {
    float x = corner[0] * entity->sx + entity->x;
    float y = corner[1] * entity->sy + entity->y;
    if (x < box.min.x)
      box.min.x = x;
    if (y < box.min.y)
      box.min.y = y;
    if (x > box.max.x)
      box.max.x = x;
    if (y > box.max.y)
      box.max.y = y;
  }
  entity->aabb = box;

  if (!entity->object)
    entity->object = qtree_object_new(qtree, nullptr, nullptr, &entity->aabb, entity);
  else
    entity->object = qtree_object_move(qtree, entity->object, nullptr, nullptr, &entity->aabb);
  if (!entity->object)
    loop_fatal("Fatal error: Unable to update qtree object\n");
}

// ---------------------------------------------------------------------------
// [SECTION] rules
// ---------------------------------------------------------------------------

void update_viruses(loop_t *loop, game_t *game)
{
  assert(loop);

  // Drawn on every step, on or off, so the sequence does not depend on it.
  float r = (float)rand() * RAND_SCALE;
  entity_t *tv = game->tv;
  if (r > TV_CHANCE && !tableau_get_active(tv->node)) {
    loop_ticks_reset(loop, APP_TIMER_TV);
    tv->x = random_coordinate();
    tv->y = random_coordinate();
    entity_update(game->qtree, tv);
    tableau_set_active(tv->node, 1);
  }

  for (entity_t *virus : game->virus) {
    // Passes alternate: a seen one from below the bottom edge, then an
    // unseen rise from a random place, which gives each seen pass a random
    // delay and column.
    if (virus->y > VIRUS_TOP) {
      if (tableau_get_active(virus->node)) {
        tableau_set_active(virus->node, 0);
        random_position(&virus->x, &virus->y);
        virus->y += VIRUS_RISE;
      } else {
        tableau_set_active(virus->node, 1);
        virus->y = VIRUS_ENTRY;
      }
    } else {
      virus->y += VIRUS_RISE;
    }
    entity_update(game->qtree, virus);
    if (tableau_get_active(virus->node)) {
      game_virus_ctx_t ctx = {game, virus};
      qtree_search_by_aabb(game->qtree, nullptr, nullptr, &virus->aabb, virus_search, &ctx);
    }
  }
}

namespace {

// The movement keys, by position (scancode) so that WASD works on any layout.
// Opposite keys cancel and still count as movement.
bool read_movement(float *dx, float *dy)
{
  const uint8_t *keys = game_keyboard();
  bool moved = false;
  *dx = 0.0f;
  *dy = 0.0f;
  if (keys[SDL_SCANCODE_LEFT] || keys[SDL_SCANCODE_A]) {
    *dx = -ADULT_SPEED;
    moved = true;
  }
  if (keys[SDL_SCANCODE_RIGHT] || keys[SDL_SCANCODE_D]) {
    *dx = *dx + ADULT_SPEED;
    moved = true;
  }
  if (keys[SDL_SCANCODE_UP] || keys[SDL_SCANCODE_W]) {
    *dy = ADULT_SPEED;
    moved = true;
  }
  if (keys[SDL_SCANCODE_DOWN] || keys[SDL_SCANCODE_S]) {
    *dy = *dy - ADULT_SPEED;
    moved = true;
  }
  return moved;
}

float clamp_limit(float v)
{
  if (v > ADULT_LIMIT)
    return ADULT_LIMIT;
  if (v < -ADULT_LIMIT)
    return -ADULT_LIMIT;
  return v;
}

}  // namespace

void game_player_step(game_t *game)
{
  float dx, dy;
  if (!read_movement(&dx, &dy))
    return;
  entity_t *adult = game->adult;
  if (adult->watching)
    return;

  adult->x = clamp_limit(adult->x + dx);
  adult->y = clamp_limit(adult->y + dy);
  entity_update(game->qtree, adult);

  if (entity_t *baby = adult->held) {
    baby->x = adult->x;
    baby->y = adult->y;
    entity_update(game->qtree, baby);
    if (adult->x < -RESCUE_LINE || adult->x > RESCUE_LINE || adult->y < -RESCUE_LINE ||
        adult->y > RESCUE_LINE) {
      // The same record goes back on the field as an ordinary baby.
      sfx_start(baby_rescued_sfx);
      baby->x = random_coordinate();
      baby->y = random_coordinate();
      entity_update(game->qtree, baby);
      adult->held = nullptr;
      adult->rescued++;
    }
  }

  qtree_search_by_aabb(game->qtree, nullptr, nullptr, &adult->aabb, adult_search, game);
}

uint32_t adult_search(void *ctx, qtree_object_t *, const v2f_t *, const aabb_t *, void *data)
{
  auto *game = static_cast<game_t *>(ctx);
  auto *entity = static_cast<entity_t *>(data);
  entity_t *adult = game->adult;

  switch (entity->kind) {
  case ENTITY_ADULT:
    return QTREE_CONTINUE;
  case ENTITY_BABY:
    // Even a baby that cannot be taken ends the search: a carried baby
    // shields the adult from whatever the quadtree would hand over next.
    if (!adult->held) {
      sfx_start(baby_held_sfx);
      adult->held = entity;
    }
    return QTREE_HIT;
  case ENTITY_VIRUS:
    if (!tableau_get_active(entity->node))
      return QTREE_CONTINUE;
    infect(game, adult, "adult-virus");
    sfx_start(adult_infected_sfx);
    if (entity_t *baby = adult->held) {
      infect(game, baby, "baby-virus");
      sfx_start(baby_infected_sfx);
    }
    game->state = GAME_CAUGHT;
    return QTREE_HIT;
  case ENTITY_TV:
    if (!tableau_get_active(entity->node))
      return QTREE_CONTINUE;
    adult->watching = 1;
    return QTREE_HIT;
  default:
    assert(0);
    return 0;
  }
}

uint32_t virus_search(void *ctx, qtree_object_t *, const v2f_t *, const aabb_t *, void *data)
{
  auto *pair = static_cast<game_virus_ctx_t *>(ctx);
  game_t *game = pair->game;
  auto *entity = static_cast<entity_t *>(data);

  switch (entity->kind) {
  case ENTITY_ADULT:
    // A carried baby is left as it is: only the adult was touched.
    infect(game, entity, "adult-virus");
    sfx_start(adult_infected_sfx);
    game->state = GAME_CAUGHT;
    return QTREE_HIT;
  case ENTITY_BABY:
    infect(game, entity, "baby-virus");
    sfx_start(baby_infected_sfx);
    entity->kind = ENTITY_VIRUS;
    // Adding an object from inside a box search is allowed: this search
    // does not visit it.
    baby_new(game, game->babies);
    tableau_set_active(pair->virus->node, 0);
    random_position(&pair->virus->x, &pair->virus->y);
    return QTREE_HIT;
  case ENTITY_VIRUS:
  case ENTITY_TV:
    return QTREE_CONTINUE;
  default:
    assert(0);
    return 0;
  }
}

// ---------------------------------------------------------------------------
// [SECTION] score display
// ---------------------------------------------------------------------------

namespace {

void score_show(game_t *game)
{
  uint32_t score = game->adult->rescued * GAME_POINTS;
  uint32_t divisor = 1000000000u;
  for (int i = 0; i < GAME_DIGITS; i++) {
    unsigned digit = score / divisor;
    score %= divisor;
    tableau_conf_t conf = conf_of(game->score, 0, "score-digit", 1);
    digit_node_new(&conf, digit, game->digits[i]);
    divisor /= 10;
  }
  tableau_set_active(game->score, 1);
}

}  // namespace
