// fever: the application shell -- context 0 of the loop.
//
// fever_init() reads the command line, opens the program's one window with
// an OpenGL 2.1 compatibility context, vertical sync and the GL loader, and
// builds the scene root "fever" with the clear node "gl-clear-fever" as its
// first child. Every later context reaches the shell's fever_t through
// loop_context(loop, 0) and hangs its nodes under root; the contexts that draw
// use fever_render as their render operation and fever_dispatch (directly or
// first) as their dispatch operation.
//
// Command line: "--window" (any case) as the first argument asks for an
// ordinary window instead of one covering the desktop; then an optional
// second argument "WIDTHxHEIGHT" (default 800x600; a field that does not
// parse keeps its default).
//
// Coordinates: the canvas is the GL drawable in pixels, the viewport the
// window in SDL screen coordinates; NDC run -1..1 over the whole drawable,
// +1 at the top, with no aspect correction. To-NDC conversions take y from
// the top edge; from-NDC conversions give y from the bottom edge.
//
// Ownership: the fever_t, its window, GL context and scene root live until
// the process exits; nothing here frees them.
//
// Does NOT: set the viewport at start-up (GL's initial one is the drawable),
// letterbox, pace frames itself (vsync does), draw anything but the tree.
#pragma once

#include "loop/loop.hpp"
#include "tableau/tableau.hpp"

#include <SDL.h>

#include <cstddef>
#include <cstdint>

struct fever_t {
  SDL_Window *window;       // the program's only window
  SDL_GLContext gl_context; // the GL context of that window
  tableau_t *root;          // root of the scene; every context hangs its nodes here
  uint32_t width;           // requested window width (800 by default)
  uint32_t height;          // requested window height (600 by default)
  uint32_t windowed : 1;    // ordinary window; clear: covering the desktop
};

static_assert(offsetof(fever_t, window) == 0);
static_assert(offsetof(fever_t, gl_context) == 8);
static_assert(offsetof(fever_t, root) == 16);
static_assert(offsetof(fever_t, width) == 24);
static_assert(offsetof(fever_t, height) == 28);

// Context 0's init: window, GL context, loader, scene root; returns the fever_t.
void *fever_init(loop_t *loop, int argc, char **argv);
// Context 0's update: enter context 1 (the logo screen).
void fever_update(loop_t *loop, void *object);
// Shared render: draw the tree, make the frame opaque and swap when it was dirty,
// else sleep 100 ms.
void fever_render(loop_t *loop, void *object);
// Shared dispatch: a resized window gets the drawable as viewport and a redraw.
void fever_dispatch(loop_t *loop, void *object, const SDL_Event *event);
// SDL's id of the window.
uint32_t fever_window_id(const fever_t *fever);
// Switch between windowed and desktop full-screen; SDL's result (0 on success).
int fever_toggle_fullscreen(fever_t *fever);

// The drawable size in pixels.
void fever_canvas_size(const fever_t *fever, int *res_width, int *res_height);
// A canvas point (y from the top) in NDC.
void fever_canvas_to_ndc(const fever_t *fever, int x, int y, float *res_x, float *res_y);
// An NDC point as a canvas point (y from the bottom), rounded half away from zero.
void fever_canvas_from_ndc(const fever_t *fever, int *res_x, int *res_y, float x, float y);
// The window size in screen coordinates.
void fever_viewport_size(const fever_t *fever, int *res_width, int *res_height);
// A viewport point (y from the top) in NDC.
void fever_viewport_to_ndc(const fever_t *fever, int x, int y, float *res_x, float *res_y);
// An NDC point as a viewport point (y from the bottom), rounded half away from zero.
void fever_viewport_from_ndc(const fever_t *fever, int *res_x, int *res_y, float x, float y);

// Context 0's operations: fever_init and fever_update.
extern const loop_ops_t fever_ops;
