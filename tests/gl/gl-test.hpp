// The GL suites' fixture: one loop per process whose contexts are the real
// shell and logo screen, on SDL's offscreen video driver (Mesa's software GL)
// and the dummy audio driver; stand-ins for the SDL calls that the tests
// count or make fail; pictures placed in pixels and read back.
#pragma once

#include "app.hpp"
#include "fever.hpp"
#include "tex.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <vector>

constexpr int W = 1024, H = 640;  // the window, and the drawable unless sdl.scale says otherwise
inline constexpr float IDENTITY[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// What the stand-ins saw (SDL_GL_SetAttribute's attribute and value, SDL_CreateWindow's x, y, w, h and flags, ...)
// and what they are told to refuse: the nth attribute call or calloc of the program (from 1), the first n windows, ...
struct sdl_fake_t {
  std::vector<std::array<int, 2>> attrs{};
  std::vector<std::array<int, 5>> windows{};
  int fail_attr = 0, fail_calloc = 0, fail_windows = 0;
  bool fail_hint = false, fail_context = false, fail_vsync = false, fail_glad = false, fail_fullscreen = false;
  int scale = 1, swaps = 0, interval = 0, fullscreen = -1;  // the drawable is scale times the window
  std::array<uint8_t, 4> presented{};                       // pixel (0, 0) as the last swap found it
  std::vector<Uint32> delays{};
  std::string music{};
};
extern sdl_fake_t sdl;
extern uint32_t now;  // now: the tick timers' clock while loop_clock is fake_clock
inline uint32_t fake_clock() { return now; }
inline std::set<const void *> &allocated()
{
  static std::set<const void *> blocks;
  return blocks;
}  // calloc'd, not freed

loop_t *gl_loop();  // started on the first call; makes the shell's GL context current
inline fever_t *gl_fever() { return static_cast<fever_t *>(loop_context(gl_loop(), APP_SHELL)); }
inline tableau_conf_t conf(tableau_t *parent, const char *name, float alpha = 1) { return {parent, 0, name, alpha, 1, 0, 1}; }
inline tableau_t *new_root(float alpha = 1)
{
  const auto c = conf(nullptr, "root", alpha);
  return tableau_new(&c, nullptr, nullptr);
}
// The unit quad onto the w x h pixels from (x, y), top left; with a depth scale, as the quad lies at z = 0.
inline void place(float m[16], int x, int y, int w, int h)
{
  std::fill(m, m + 16, 0.f), m[0] = float(w) / W, m[5] = float(h) / H, m[10] = 4, m[15] = 1;
  m[12] = float(2 * x + w) / W - 1, m[13] = 1 - float(2 * y + h) / H;
}
inline void clear(float r, float g, float b) { glClearColor(r, g, b, 1), glClear(GL_COLOR_BUFFER_BIT), glClearColor(0, 0, 0, 0); }
struct frame_t {  // the drawable read back, RGBA; pixel (x, y) counted from the top left
  std::vector<uint8_t> px = std::vector<uint8_t>(size_t(W) * H * 4);
  frame_t() { glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, px.data()); }
  const uint8_t *at(int x, int y) const { return &px[(size_t(H - 1 - y) * W + x) * 4]; }
};
inline int dist(const uint8_t *p, std::array<int, 3> c) { return std::max({abs(p[0] - c[0]), abs(p[1] - c[1]), abs(p[2] - c[2])}); }
inline GLint bound()
{  // the program, the texture and the array buffer left bound, summed
  GLint b[3] = {};
  return glGetIntegerv(GL_CURRENT_PROGRAM, b), glGetIntegerv(GL_TEXTURE_BINDING_2D, b + 1), glGetIntegerv(GL_ARRAY_BUFFER_BINDING, b + 2), b[0] + b[1] + b[2];
}
inline bool resident(const void *p)
{  // the page of p is mapped in
  uint64_t e = 0, fd = uint64_t(open("/proc/self/pagemap", O_RDONLY));
  const bool read = pread(int(fd), &e, 8, off_t(uintptr_t(p) / uintptr_t(getpagesize()) * 8)) == 8;
  return close(int(fd)), read && e >> 63;
}
// Each row's call ends the process with a failed assertion of that expression (a regex).
inline void expect_assertions(std::vector<std::pair<void (*)(), const char *>> rows)
{
  for (auto &[call, expr] : rows) EXPECT_DEATH(call(), std::string("Assertion `") + expr + "' failed");
}
