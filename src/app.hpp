// app: the application's table of contexts and the names of its wiring:
// which context has which index, and which tick timer serves whom.
//
// The shell must stay first: the later inits make textures and shaders in its
// GL context and find its object with loop_context(loop, APP_SHELL). Contexts
// are only ever entered forwards: the shell's first update enters the logo
// screen, whose end enters the game, which is never left.
//
// Kept apart from main() so that tests can start the real application
// in-process with loop_startup(argc, argv, app_contexts).
#pragma once

#include "loop/loop.hpp"

// Indices of the contexts in app_contexts.
enum : int {
  APP_SHELL = 0,  // window, GL context, scene root  -- fever
  APP_LOGO = 1,   // the logo screen                 -- quietmoth
  APP_GAME = 2,   // the game                        -- game
};

// Tick timers by role (the framework has LOOP_TICKS_CNT of them).
enum : unsigned {
  // The logo screen measures its phases with timer 0; the plasma then reads
  // the same timer as a free-running clock, which nothing resets once the
  // logo screen has ended.
  APP_TIMER_LOGO = 0,
  APP_TIMER_PLASMA = 0,
  APP_TIMER_VIRUS_STEP = 1,   // the game's virus step, reset when it is entered
  APP_TIMER_SCORE = 2,        // how long the score has been shown
  APP_TIMER_TV = 3,           // how long the television has been on
  APP_TIMER_PLAYER_STEP = 4,  // the game's player step, never reset
};

// Null-terminated.
extern const loop_ops_t *const app_contexts[];
