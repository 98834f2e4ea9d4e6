// app: the application's table of contexts, in index order:
//   0  the shell (window, GL context, scene root)   -- fever
//   1  the logo screen                              -- quietmoth
//   2  the game                                     -- game
// The shell must stay first: the later inits make textures and shaders in its
// GL context and find its object with loop_context(loop, 0).
//
// Kept apart from main() so that tests can start the real application
// in-process with loop_startup(argc, argv, app_contexts).
#pragma once

#include "loop/loop.hpp"

// Null-terminated.
extern const loop_ops_t *const app_contexts[];
