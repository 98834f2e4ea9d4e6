// game: the game proper, context APP_GAME of the application.
//
// The player steers an adult over a playfield that fills the window, picks
// up babies by touching them and rescues them by carrying them off an edge
// (420 points each). Viruses rise across the field; a seen virus that touches
// a baby turns it into a stationary virus, and one that touches the adult ends
// the game. A television switches on at random places for three seconds and
// holds an adult that walks into it. When the adult is caught the score is
// shown as ten digits; one second later any key builds a new playfield.
//
// Every entity (adult, babies, viruses, television) is one entity_t carved
// from the playfield's arena, with a sprite node that draws it through its
// model_x and an object in the game's one quadtree through which every
// collision is found. Positions are normalised device coordinates of the
// whole window (-1 .. 1 on both axes, y up), with no aspect correction.
//
// Ownership: game_t is made once by game_init and never freed. A playfield
// (the "game" node with its subtree, the arena with the entity records, the
// quadtree's objects) is dropped as a whole by the next game_reset. The
// plasma node, the quadtree itself and the digit matrices outlive playfields.
//
// Randomness: rand() only, never seeded, so the first playfield after
// start-up is the same on every run.
//
// Does NOT: read the mouse, touch or game controllers; call GL; allocate on a
// frame except for the nodes and records an infection makes; ever leave the
// context (Escape ends the process, a quit event ends the loop).
#pragma once

#include "arena/arena.hpp"
#include "loop/loop.hpp"
#include "qtree/qtree.hpp"
#include "tableau/tableau.hpp"

#include <SDL.h>

#include <cstddef>
#include <cstdint>

// Entity kinds.
enum : uint32_t {
  ENTITY_BABY = 0,
  ENTITY_ADULT = 1,
  ENTITY_VIRUS = 2,
  ENTITY_TV = 3,
};

// States of one game.
enum : uint32_t {
  GAME_PLAYING = 0,  // virus step, player step, television switch-off
  GAME_CAUGHT = 1,   // the adult was infected: build and show the score
  GAME_SCORE = 2,    // score shown, keys ignored for GAME_SCORE_MS
  GAME_WAITING = 3,  // any key starts a new game
};

constexpr int GAME_VIRUSES = 8;           // moving viruses per playfield
constexpr int GAME_BABIES = 10;           // babies per playfield at the start
constexpr int GAME_DIGITS = 10;           // digits of the score display
constexpr uint32_t GAME_STEP_MS = 20;     // virus step and player step period
constexpr uint32_t GAME_SCORE_MS = 1000;  // score shown before a key restarts

// The playfield's arena: zero-filled blocks in chunks of 4608 bytes, room for
// about thirty entity records (152 bytes each in the chunk).
constexpr uint32_t GAME_ARENA_CHUNK_SIZE = 4608;
// The quadtree's limits: a leaf splits above 4 objects, at most 4 levels
// deep, and one box search at a time (no search callback of the game starts
// another search).
constexpr uint32_t GAME_QTREE_MAX_OBJECTS = 4;
constexpr uint32_t GAME_QTREE_MAX_DEPTH = 4;
constexpr uint32_t GAME_QTREE_MAX_ASIP = 1;
constexpr uint32_t GAME_TV_MS = 3000;  // the television's time on
constexpr uint32_t GAME_POINTS = 420;  // per rescued baby

struct entity_t {
  uint32_t kind;           // ENTITY_BABY .. ENTITY_TV; an infected baby turns ENTITY_VIRUS
  tableau_t *node;         // the sprite; remade as "adult-virus"/"baby-virus" on infection
  qtree_object_t *object;  // place in the quadtree; null until the first entity_update
  float x, y;              // centre, playfield coordinates
  float sx, sy, sz;        // half-sizes, all three equal
  float model_x[16];       // column-major; the sprite node reads it at every draw
  aabb_t aabb;             // collision box: x - 2 sx .. x + sx, y - sy .. y + sy
  uint32_t rescued;        // adult only: babies carried off the field this game
  uint32_t watching : 1;   // adult only: held still by the switched-on television
  entity_t *held;          // adult only: the baby carried, or null
};
static_assert(offsetof(entity_t, node) == 8);
static_assert(offsetof(entity_t, x) == 24);
static_assert(offsetof(entity_t, model_x) == 44);
static_assert(offsetof(entity_t, aabb) == 108);
static_assert(offsetof(entity_t, rescued) == 124);
static_assert(offsetof(entity_t, held) == 136);
static_assert(sizeof(entity_t) == 144, "an entity takes 152 bytes of its arena chunk");

struct game_t {
  uint32_t state;      // GAME_PLAYING .. GAME_WAITING
  tableau_t *root;     // the shell's root: parent of "plasma" and "game"
  tableau_t *node;     // the playfield's "game" node; null before the first reset
  tableau_t *babies;   // "babies" group (layer 4 of "game")
  tableau_t *viruses;  // "viruses" group (layer 5 of "game")
  tableau_t *plasma;   // the background, made once, never freed
  tableau_t *score;    // "score" group (layer 7 of "game")
  qtree_t *qtree;      // every entity of the playfield; emptied by each reset
  arena_t *arena;      // the playfield's entity records
  entity_t *adult;
  entity_t *tv;
  entity_t *virus[GAME_VIRUSES];  // the moving viruses, in the order made
  float digits[GAME_DIGITS][16];  // score digit matrices, set once by game_init
};

// Test seam, like loop_clock: where the player step reads the keyboard state
// (an array indexed by SDL scancode). SDL_GetKeyboardState unless replaced.
extern const uint8_t *(*game_keyboard)(void);

// init: the game object, the hidden plasma, the quadtree, the digit matrices
// and the sound effects (argc and argv unused).
game_t *game_init(loop_t *loop, int argc, char **argv);
// enter: game music (repeated, kept across restarts), reset APP_TIMER_VIRUS_STEP,
// plasma on, a playfield.
void game_enter(loop_t *loop, game_t *game);
// leave: nothing (the game is never left).
void game_leave(loop_t *loop, game_t *game);
// update: one frame of the state machine; always marks the scene dirty.
void game_update(loop_t *loop, game_t *game);
// dispatch: the shell's dispatch, then Escape (exit 0) and the restart key.
void game_dispatch(loop_t *loop, game_t *game, const SDL_Event *event);

// Drop the current playfield and build a new one; state GAME_PLAYING.
void game_reset(game_t *game);
// Make a baby at a random place under parent; its record.
entity_t *baby_new(game_t *game, tableau_t *parent);
// Recompute model_x and aabb from the position and size; place it in the quadtree.
void entity_update(qtree_t *qtree, entity_t *entity);
// A random point: y first, then x, each from -1 to 1.
void random_position(float *x, float *y);

// The virus step: the television's chance, then each moving virus rises and searches.
void update_viruses(loop_t *loop, game_t *game);
// The player step: the keys move the adult, carry and rescue, then it searches.
void game_player_step(game_t *game);
// Search callback of the adult; ctx is the game.
uint32_t adult_search(void *ctx, qtree_object_t *object, const v2f_t *offset, const aabb_t *aabb,
                      void *data);
// Search callback of a virus; ctx is a game_virus_ctx_t.
uint32_t virus_search(void *ctx, qtree_object_t *object, const v2f_t *offset, const aabb_t *aabb,
                      void *data);

// The pair a virus searches with, made on the stack for one search.
struct game_virus_ctx_t {
  game_t *game;
  entity_t *virus;
};
