// quietmoth: the logo screen, context APP_LOGO of the application.
//
// On entering, the embedded logo fades in over QUIETMOTH_STEP_MS while its
// tune plays, holds for as long, fades out for as long, and then the screen
// hands over to the game (APP_GAME). It reacts to nothing but resizing and
// quit events, through the shell's shared render and dispatch.
//
// Ownership: quietmoth_init() makes the object and its logo node under the
// shell's root; quietmoth_leave() frees both, after which APP_LOGO must never
// be entered again (the application never does).
//
// Does NOT: skip on a key, cache the logo texture (it is shown once per run),
// redraw during the hold.
#pragma once

#include "loop/loop.hpp"
#include "tableau/tableau.hpp"

#include <cstddef>
#include <cstdint>

constexpr uint32_t QUIETMOTH_STEP_MS = 3333;   // length of each of the three phases
constexpr float QUIETMOTH_FADE = 0.00030003f;  // nearest float to 1 / QUIETMOTH_STEP_MS

// Phases of the screen, in the order they run.
enum : uint32_t {
  QUIETMOTH_FADE_IN = 0,
  QUIETMOTH_SHOW = 1,
  QUIETMOTH_FADE_OUT = 2,
  QUIETMOTH_DONE = 3,
};

struct quietmoth_t {
  uint32_t state;     // one of QUIETMOTH_FADE_IN .. QUIETMOTH_DONE
  tableau_t *node;    // the logo's texture node under the shell's root
  float model_x[16];  // the node reads it at every draw: a band across the middle
};
static_assert(offsetof(quietmoth_t, node) == 8);
static_assert(offsetof(quietmoth_t, model_x) == 16);

// init: the object and its invisible logo node (argc and argv unused).
quietmoth_t *quietmoth_init(loop_t *loop, int argc, char **argv);
// enter: start the logo's tune (once; a missing file is fatal) and reset APP_TIMER_LOGO.
void quietmoth_enter(loop_t *loop, quietmoth_t *quietmoth);
// leave: free the logo node and the object.
void quietmoth_leave(loop_t *loop, quietmoth_t *quietmoth);
// update: one step of the fade state machine; the last enters the game.
void quietmoth_update(loop_t *loop, quietmoth_t *quietmoth);
