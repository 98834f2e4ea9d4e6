// A real loop with the real shell as context 0, on SDL's offscreen video
// driver (Mesa's software GL) and its dummy audio driver, plus helpers to
// read the frame back and write it out as PNG.
#pragma once

#include "fever.hpp"

#include "loop/loop.hpp"
#include "tableau/tableau.hpp"

#include <cstdint>
#include <string>
#include <vector>

constexpr int GL_TEST_WIDTH = 1280;
constexpr int GL_TEST_HEIGHT = 768;
inline constexpr float GL_TEST_IDENTITY[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Context 1 of the test loop: counts what the loop calls on it.
struct gl_test_probe_t {
  int entered;
  int updates;
  int quit_after;  // loop_quit() at this update (0: never)
};
extern gl_test_probe_t gl_test_probe;

// The loop, started once per process ("--window 1280x768"); its GL context is made current.
loop_t *gl_test_loop(void);
// The shell object of the test loop.
fever_t *gl_test_fever(void);
// A free-standing root (no clear node) for drawing tests; freed by the caller.
tableau_t *gl_test_root(float alpha);
// The record of an active, clean node on layer 0 of parent.
tableau_conf_t gl_test_conf(tableau_t *parent, const char *name, float alpha = 1.f);

// The whole frame as RGBA, top row first.
struct gl_test_frame_t {
  int width;
  int height;
  std::vector<uint8_t> rgba;
  const uint8_t *at(int x, int y_from_top) const { return &rgba[(size_t(y_from_top) * width + x) * 4]; }
};
gl_test_frame_t gl_test_read(void);

// Expect a pixel's colour (and its alpha unless a < 0) within tolerance.
void gl_test_expect_rgba(const uint8_t *p, int r, int g, int b, int a, int tolerance = 1);

// Clear the frame to an opaque colour.
void gl_test_clear(float r, float g, float b, float a);

// Matrix that takes the unit quad to a w x h pixel rectangle at (x, y) from the top left.
void gl_test_place(float model_x[16], int x, int y, int w, int h);

// Write RGBA rows (top first) as an uncompressed PNG; false on an I/O error.
bool gl_test_write_png(const std::string &path, int width, int height, const uint8_t *rgba);
