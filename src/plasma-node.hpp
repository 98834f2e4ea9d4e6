// plasma-node: the game's animated background, a shader node whose fragment
// shader computes a moving colour pattern over the whole window.
//
// The pattern's clock is tick timer APP_TIMER_PLASMA of the loop (seconds since its last
// reset), read at every draw; the node's effective opacity is the pattern's
// alpha. The node is drawn only in frames that are drawn, so it animates at
// the frame rate while something marks the tree dirty.
//
// Ownership: the node is the only holder of its program, which dies with it.
//
// Does NOT: reset or pause its timer, mark the tree dirty, switch itself on.
#pragma once

#include "tableau/tableau.hpp"

#include <glad/gl.h>

// The plasma node; never NULL.
tableau_t *plasma_node_new(const tableau_conf_t *conf);
// Its uniform callback: "alpha" from the node's opacity, "time" from APP_TIMER_PLASMA of the loop
// (arg).
void plasma_uniforms(void *cb_data, void *arg, unsigned n_uniforms, const GLint *uniforms,
                     void *cb_arg, float alpha);
