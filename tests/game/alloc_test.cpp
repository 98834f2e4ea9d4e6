// A frame of play allocates nothing unless something is made on it.
//
// The link routes every malloc-family call of the statically linked code
// (the game, the shell, the drawing modules and the four libraries) through
// the counting wrappers below; the shared libraries (SDL, the GL driver)
// call the allocator directly and are not counted, which is what this test
// wants: the game's own frames. operator new is not replaced: nothing of
// ours uses it, and GoogleTest's is outside the counting window.
//
// A frame may allocate when an infection makes a node and a new baby, when
// the adult is caught (score digits), when a key builds a new playfield, and
// when an arena (the quadtree's or the entities') takes a chunk it never
// needed before: arenas keep their chunks, so that happens ever more rarely.
// Every other frame of play must allocate nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "harness.hpp"

namespace {
bool counting;
long allocations;
}  // namespace

#define ORB_WRAP(ret, name, params, args) \
  ret __real_##name params;                \
  ret __wrap_##name params {               \
    if (counting) ++allocations;           \
    return __real_##name args;             \
  }
extern "C" {
ORB_WRAP(void *, malloc, (size_t size), (size))
ORB_WRAP(void *, calloc, (size_t n, size_t size), (n, size))
ORB_WRAP(void *, realloc, (void *ptr, size_t size), (ptr, size))
ORB_WRAP(void *, aligned_alloc, (size_t align, size_t size), (align, size))
ORB_WRAP(int, posix_memalign, (void **ptr, size_t align, size_t size), (ptr, align, size))
}

namespace {

size_t chunks(const arena_t *arena)
{
  size_t n = 0;
  for (const arena_link_t *head : {&arena->free_chunks, &arena->used_chunks})
    for (const arena_link_t *l = head->next; l != head; l = l->next)
      n++;
  return n;
}

// What a frame can make: the state, the playfield, each entity with its
// kind (a node remade at the old address still changes the kind of an
// infected baby, or the state for the caught adult), and the arenas' chunks.
struct snapshot_t {
  uint32_t state;
  tableau_t *playfield;
  std::vector<std::pair<entity_t *, uint32_t>> entities;
  size_t chunks;
  bool operator==(const snapshot_t &) const = default;
};

snapshot_t snapshot(game_t *game)
{
  snapshot_t s{game->state, game->node, {}, 0};
  for (entity_t *e : harness_entities(game))
    s.entities.emplace_back(e, e->kind);
  std::sort(s.entities.begin(), s.entities.end());  // not the order they are found in
  for (const arena_t *a : {game->arena, game->qtree->node_arena, game->qtree->ref_arena,
                           game->qtree->object_arena})
    s.chunks += chunks(a);
  return s;
}

// Held keys change every 25 frames through eight patterns, so the adult
// wanders, picks up and carries babies and now and then meets a virus.
void hold_keys(int frame)
{
  static const SDL_Scancode PATTERNS[8][2] = {
      {SDL_SCANCODE_RIGHT, SDL_SCANCODE_UNKNOWN}, {SDL_SCANCODE_UP, SDL_SCANCODE_LEFT},
      {SDL_SCANCODE_LEFT, SDL_SCANCODE_UNKNOWN},  {SDL_SCANCODE_DOWN, SDL_SCANCODE_RIGHT},
      {SDL_SCANCODE_UNKNOWN, SDL_SCANCODE_UNKNOWN}, {SDL_SCANCODE_UP, SDL_SCANCODE_UNKNOWN},
      {SDL_SCANCODE_DOWN, SDL_SCANCODE_LEFT},     {SDL_SCANCODE_RIGHT, SDL_SCANCODE_UP}};
  const SDL_Scancode *p = PATTERNS[(frame / 25) % 8];
  for (SDL_Scancode k : {SDL_SCANCODE_RIGHT, SDL_SCANCODE_LEFT, SDL_SCANCODE_UP, SDL_SCANCODE_DOWN})
    harness_keys[k] = 0;
  for (int i = 0; i < 2; i++)
    if (p[i] != SDL_SCANCODE_UNKNOWN)
      harness_keys[p[i]] = 1;
}

TEST(game_alloc, frames_of_play_allocate_only_when_something_is_made)
{
  loop_t *loop = nullptr;
  game_t *game = harness_game(&loop);
  harness_frame(loop);  // the first frame after entering draws everything once

  int quiet = 0, eventful = 0, restarts = 0, new_chunks = 0;
  long made = 0;
  for (int frame = 0; frame < 1500; frame++) {
    hold_keys(frame);
    if (game->state == GAME_WAITING)
      harness_key(SDLK_SPACE, SDL_SCANCODE_SPACE);
    harness_now += GAME_STEP_MS;
    const snapshot_t before = snapshot(game);
    allocations = 0;
    counting = true;
    harness_frame(loop);
    counting = false;
    const snapshot_t after = snapshot(game);
    if (before == after) {
      quiet++;
      ASSERT_EQ(allocations, 0) << "frame " << frame << " made nothing, yet allocated";
    } else {
      eventful++;
      made += allocations;
      restarts += after.playfield != before.playfield;
      new_chunks += after.chunks > before.chunks && after.playfield == before.playfield;
    }
  }
  // Not vacuous: most frames were quiet, games were lost and rebuilt, and
  // the wrappers saw what those made. A chunk taken in play is rare.
  EXPECT_GT(quiet, 1000);
  EXPECT_GT(restarts, 0);
  EXPECT_GT(made, 0);
  EXPECT_LT(new_chunks, 30);
  RecordProperty("quiet_frames", quiet);
  RecordProperty("eventful_frames", eventful);
  RecordProperty("restarts", restarts);
  RecordProperty("new_chunks", new_chunks);
}

}  // namespace
