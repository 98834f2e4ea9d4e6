// The application shell: command line, window, conversions, render and dispatch.
#include "clear-node.hpp"
#include "gl-fixture.hpp"
#include "tex-node.hpp"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

// The real SDL functions, counted: the shell's swap and idle sleep are only
// visible as calls, so the test binary stands in front of SDL and forwards.
namespace {
int swaps;
int delays_100;
} // namespace

extern "C" void SDL_GL_SwapWindow(SDL_Window *window)
{
  static auto real = reinterpret_cast<void (*)(SDL_Window *)>(dlsym(RTLD_NEXT, "SDL_GL_SwapWindow"));
  swaps++;
  real(window);
}

extern "C" void SDL_Delay(Uint32 ms)
{
  static auto real = reinterpret_cast<void (*)(Uint32)>(dlsym(RTLD_NEXT, "SDL_Delay"));
  if (ms == 100)
    delays_100++;
  real(ms);
}

namespace {

class fever_test : public ::testing::Test {
protected:
  void SetUp() override
  {
    loop = gl_test_loop();
    fever = gl_test_fever();
  }
  loop_t *loop;
  fever_t *fever;
};

// A second shell made by fever_init itself, torn down again so that the test
// loop's window and GL context stay current.
struct shell_t {
  fever_t *fever;
  explicit shell_t(std::vector<const char *> args)
  {
    std::vector<char *> argv;
    for (const char *a : args)
      argv.push_back(const_cast<char *>(a));
    argv.push_back(NULL);
    fever = static_cast<fever_t *>(fever_init(gl_test_loop(), int(args.size()), argv.data()));
  }
  ~shell_t()
  {
    SDL_GL_DeleteContext(fever->gl_context);
    SDL_DestroyWindow(fever->window);
    tableau_free(fever->root);
    free(fever);
    gl_test_loop();
  }
  bool fullscreen() const
  {
    return (SDL_GetWindowFlags(fever->window) & SDL_WINDOW_FULLSCREEN_DESKTOP) ==
           SDL_WINDOW_FULLSCREEN_DESKTOP;
  }
};

TEST_F(fever_test, command_line_chooses_window_mode_and_size)
{
  struct {
    std::vector<const char *> args;
    bool windowed;
    uint32_t width, height;
  } cases[] = {
      {{"orb"}, false, 800, 600},
      {{"orb", "--window"}, true, 800, 600},
      {{"orb", "--WINDOW"}, true, 800, 600},
      {{"orb", "--WinDow"}, true, 800, 600},
      {{"orb", "--window", "1280x720"}, true, 1280, 720},
      {{"orb", "--window", "1024"}, true, 1024, 600},
      {{"orb", "--window", "big"}, true, 800, 600},
      {{"orb", "--window", "640x"}, true, 640, 600},
      {{"orb", "1280x720"}, false, 800, 600},
      {{"orb", "--windowed", "640x480"}, false, 800, 600},
      {{"orb", "-window", "640x480"}, false, 800, 600},
  };
  for (auto &c : cases) {
    std::string line;
    for (const char *a : c.args)
      line += std::string(a) + " ";
    SCOPED_TRACE(line);
    shell_t shell(c.args);
    EXPECT_EQ(shell.fever->windowed, c.windowed ? 1u : 0u);
    EXPECT_EQ(shell.fever->width, c.width);
    EXPECT_EQ(shell.fever->height, c.height);
    EXPECT_EQ(shell.fullscreen(), !c.windowed);
    if (c.windowed) {
      int w, h;
      SDL_GetWindowSize(shell.fever->window, &w, &h);
      EXPECT_EQ(w, int(c.width));
      EXPECT_EQ(h, int(c.height));
    }
  }
}

TEST_F(fever_test, start_up_builds_the_root_with_its_clear_node_and_a_multisampled_context)
{
  EXPECT_STREQ(fever->root->name, "fever");
  EXPECT_FLOAT_EQ(fever->root->alpha, 1.f);
  EXPECT_TRUE(fever->root->active);
  EXPECT_EQ(fever->root->parent, nullptr);
  tableau_t *clear = tableau_lookup_name(fever->root, "gl-clear-fever");
  ASSERT_NE(clear, nullptr);
  EXPECT_EQ(clear->parent, fever->root);
  EXPECT_FLOAT_EQ(clear->alpha, 0.f);
  EXPECT_TRUE(clear->active);
  // First child on layer 0, so every frame starts with the clear.
  EXPECT_EQ(fever->root->layers[0].next, &clear->link);
  EXPECT_EQ(clear->ops->render, clear_node_render);

  EXPECT_EQ(SDL_GL_GetCurrentContext(), fever->gl_context);
  EXPECT_STREQ(SDL_GetWindowTitle(fever->window), "Orb");
  uint32_t flags = SDL_GetWindowFlags(fever->window);
  EXPECT_TRUE(flags & SDL_WINDOW_OPENGL);
  EXPECT_TRUE(flags & SDL_WINDOW_RESIZABLE);
  EXPECT_EQ(SDL_GL_GetSwapInterval(), 1);
  EXPECT_TRUE(glIsEnabled(GL_MULTISAMPLE));
  int value = 0;
  SDL_GL_GetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, &value);
  EXPECT_EQ(value, 2);
  SDL_GL_GetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, &value);
  EXPECT_EQ(value, 1);
  SDL_GL_GetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, &value);
  EXPECT_EQ(value, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  GLint v[4];
  glGetIntegerv(GL_VIEWPORT, v);
  EXPECT_EQ(v[2], GL_TEST_WIDTH);
  EXPECT_EQ(v[3], GL_TEST_HEIGHT);
  EXPECT_EQ(fever_window_id(fever), SDL_GetWindowID(fever->window));
  EXPECT_NE(fever_window_id(fever), 0u);
}

// A shell whose window has a given size, for the conversions.
struct sized_t {
  shell_t shell;
  explicit sized_t(const char *size) : shell({"orb", "--window", size}) {}
};

TEST_F(fever_test, viewport_points_convert_to_ndc_with_y_from_the_top)
{
  sized_t s("800x600");
  const fever_t *f = s.shell.fever;
  int w = 0, h = 0;
  fever_viewport_size(f, &w, &h);
  ASSERT_EQ(w, 800);
  ASSERT_EQ(h, 600);
  struct {
    int x, y;
    float nx, ny;
  } cases[] = {
      {0, 0, -1, 1}, {400, 300, 0, 0}, {800, 600, 1, -1}, {200, 450, -0.5f, -0.5f},
      {800, 0, 1, 1}, {-400, 900, -2, -2},
  };
  for (auto &c : cases) {
    float x = 9, y = 9;
    fever_viewport_to_ndc(f, c.x, c.y, &x, &y);
    EXPECT_FLOAT_EQ(x, c.nx) << c.x << "," << c.y;
    EXPECT_FLOAT_EQ(y, c.ny) << c.x << "," << c.y;
    fever_canvas_to_ndc(f, c.x, c.y, &x, &y);
    EXPECT_FLOAT_EQ(x, c.nx) << c.x << "," << c.y;
    EXPECT_FLOAT_EQ(y, c.ny) << c.x << "," << c.y;
  }
  // Exactly the single-precision steps: q + q - 1 with q = x / w.
  float x, y;
  fever_viewport_to_ndc(f, 1, 7, &x, &y);
  float q = 1.f / 800.f, r = 1.f - 7.f / 600.f;
  EXPECT_EQ(x, (q + q) - 1.f);
  EXPECT_EQ(y, (r + r) - 1.f);
}

TEST_F(fever_test, ndc_converts_back_with_y_from_the_bottom)
{
  sized_t s("800x600");
  const fever_t *f = s.shell.fever;
  struct {
    float nx, ny;
    int x, y;
  } cases[] = {
      {0, 0, 400, 300},
      {-1, -1, 0, 0},
      {1, 1, 800, 600},
      {-1, 1, 0, 600},
      {-0.994f, -1.f, 2, 0},  // 2.4 rounds down
      {-0.99f, -0.99f, 4, 3},
  };
  for (auto &c : cases) {
    int x = 99, y = 99;
    fever_viewport_from_ndc(f, &x, &y, c.nx, c.ny);
    EXPECT_EQ(x, c.x) << c.nx << "," << c.ny;
    EXPECT_EQ(y, c.y) << c.nx << "," << c.ny;
    fever_canvas_from_ndc(f, &x, &y, c.nx, c.ny);
    EXPECT_EQ(x, c.x) << c.nx << "," << c.ny;
    EXPECT_EQ(y, c.y) << c.nx << "," << c.ny;
  }
  // A point taken to NDC and back returns mirrored vertically.
  float nx, ny;
  int x, y;
  fever_viewport_to_ndc(f, 120, 100, &nx, &ny);
  fever_viewport_from_ndc(f, &x, &y, nx, ny);
  EXPECT_EQ(x, 120);
  EXPECT_EQ(y, 500);
}

TEST_F(fever_test, exact_halves_round_away_from_zero)
{
  // With a 512 x 256 window the scale factors are powers of two, so these
  // NDC values land exactly on halves: roundf, not truncation or rint.
  sized_t s("512x256");
  const fever_t *f = s.shell.fever;
  struct {
    float nx, ny;
    int x, y;
  } cases[] = {
      {-0.990234375f, -0.98828125f, 3, 2},    // 2.5, 1.5
      {-1.009765625f, -1.01171875f, -3, -2},  // -2.5, -1.5
      {-0.982421875f, -0.98046875f, 5, 3},    // 4.5, 2.5
  };
  for (auto &c : cases) {
    int x = 99, y = 99;
    fever_viewport_from_ndc(f, &x, &y, c.nx, c.ny);
    EXPECT_EQ(x, c.x) << c.nx;
    EXPECT_EQ(y, c.y) << c.ny;
    fever_canvas_from_ndc(f, &x, &y, c.nx, c.ny);
    EXPECT_EQ(x, c.x) << c.nx;
    EXPECT_EQ(y, c.y) << c.ny;
  }
}

TEST_F(fever_test, conversions_ask_the_current_size_every_time)
{
  sized_t s("800x600");
  fever_t *f = s.shell.fever;
  SDL_SetWindowSize(f->window, 400, 200);
  int w, h;
  fever_canvas_size(f, &w, &h);
  EXPECT_EQ(w, 400);
  EXPECT_EQ(h, 200);
  float nx, ny;
  fever_viewport_to_ndc(f, 100, 50, &nx, &ny);
  EXPECT_FLOAT_EQ(nx, -0.5f);
  EXPECT_FLOAT_EQ(ny, 0.5f);
  int x, y;
  fever_canvas_from_ndc(f, &x, &y, 0.5f, 0.5f);
  EXPECT_EQ(x, 300);
  EXPECT_EQ(y, 150);
}

using fever_death_test = fever_test;

TEST_F(fever_death_test, conversions_need_their_object_and_out_pointers)
{
  int i;
  float v;
  EXPECT_DEATH(fever_canvas_size(NULL, &i, &i), "fever");
  EXPECT_DEATH(fever_canvas_size(fever, NULL, &i), "res_width");
  EXPECT_DEATH(fever_viewport_size(fever, &i, NULL), "res_height");
  EXPECT_DEATH(fever_canvas_to_ndc(fever, 0, 0, NULL, &v), "res_x");
  EXPECT_DEATH(fever_viewport_to_ndc(fever, 0, 0, &v, NULL), "res_y");
  EXPECT_DEATH(fever_canvas_from_ndc(fever, NULL, &i, 0, 0), "res_x");
  EXPECT_DEATH(fever_viewport_from_ndc(NULL, &i, &i, 0, 0), "fever");
}

SDL_Event window_event(const fever_t *f, Uint8 sub, int w, int h)
{
  SDL_Event e;
  memset(&e, 0, sizeof(e));
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = fever_window_id(f);
  e.window.event = sub;
  e.window.data1 = w;
  e.window.data2 = h;
  return e;
}

TEST_F(fever_test, a_resize_sets_the_viewport_to_the_drawable_and_redraws)
{
  tableau_render(fever->root, loop);  // take any pending mark away
  ASSERT_FALSE(fever->root->dirty);
  SDL_SetWindowSize(fever->window, 640, 400);
  SDL_PumpEvents();

  // Sizes changing without the resize sub-event change nothing.
  SDL_Event other = window_event(fever, SDL_WINDOWEVENT_SIZE_CHANGED, 640, 400);
  fever_dispatch(loop, NULL, &other);
  SDL_Event key;
  memset(&key, 0, sizeof(key));
  key.type = SDL_KEYDOWN;
  fever_dispatch(loop, NULL, &key);
  GLint v[4];
  glGetIntegerv(GL_VIEWPORT, v);
  EXPECT_EQ(v[2], GL_TEST_WIDTH);
  EXPECT_EQ(v[3], GL_TEST_HEIGHT);
  EXPECT_FALSE(fever->root->dirty);

  // The event's own numbers are not used: the drawable's size in pixels is.
  SDL_Event resized = window_event(fever, SDL_WINDOWEVENT_RESIZED, 1, 1);
  fever_dispatch(loop, NULL, &resized);
  glGetIntegerv(GL_VIEWPORT, v);
  EXPECT_EQ(v[0], 0);
  EXPECT_EQ(v[1], 0);
  EXPECT_EQ(v[2], 640);
  EXPECT_EQ(v[3], 400);
  EXPECT_TRUE(fever->root->dirty);

  int before = swaps;
  fever_render(loop, NULL);
  EXPECT_EQ(swaps, before + 1);
  SDL_SetWindowSize(fever->window, GL_TEST_WIDTH, GL_TEST_HEIGHT);
  glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
}

TEST_F(fever_test, a_dirty_tree_is_drawn_and_swapped_a_clean_one_sleeps_100_ms)
{
  // Something under the root, to see that the frame is drawn from the clear up.
  const uint8_t px[4] = {255, 255, 255, 255};
  float m[16];
  gl_test_place(m, 0, 0, 10, 10);
  const tableau_conf_t c = {.parent = fever->root, .layer = 1, .name = "dot", .alpha = 1.f,
                            .active = 1, .locked = 0, .dirty = 0};
  tableau_t *dot = tex_node_new_buf(&c, 1, 1, px, m);

  tableau_dirty(fever->root);
  gl_test_clear(1, 0, 0, 1);
  int swapped = swaps, slept = delays_100;
  fever_render(loop, NULL);
  EXPECT_EQ(swaps, swapped + 1);
  EXPECT_EQ(delays_100, slept);
  EXPECT_FALSE(fever->root->dirty);

  swapped = swaps;
  auto start = std::chrono::steady_clock::now();
  fever_render(loop, NULL);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(swaps, swapped);
  EXPECT_EQ(delays_100, slept + 1);
  EXPECT_GE(ms, 99);
  tableau_free(dot);
}

TEST_F(fever_test, the_frame_is_cleared_before_the_nodes_draw)
{
  const uint8_t px[4] = {255, 255, 255, 255};
  float m[16];
  gl_test_place(m, 0, 0, 10, 10);
  const tableau_conf_t c = {.parent = fever->root, .layer = 0, .name = "dot", .alpha = 1.f,
                            .active = 1, .locked = 0, .dirty = 0};
  tableau_t *dot = tex_node_new_buf(&c, 1, 1, px, m);
  gl_test_clear(1, 0, 0, 1);
  tableau_dirty(fever->root);
  ASSERT_TRUE(tableau_render(fever->root, loop));
  gl_test_frame_t f = gl_test_read();
  EXPECT_EQ(f.at(5, 5)[0], 255);
  EXPECT_EQ(f.at(5, 5)[1], 255);
  EXPECT_EQ(f.at(100, 100)[0], 0);
  EXPECT_EQ(f.at(100, 100)[3], 0);
  tableau_free(dot);
}

TEST_F(fever_test, the_full_screen_switch_flips_windowed_only_when_sdl_agrees)
{
  sized_t s("640x480");
  fever_t *f = s.shell.fever;
  ASSERT_TRUE(f->windowed);
  EXPECT_EQ(fever_toggle_fullscreen(f), 0);
  EXPECT_FALSE(f->windowed);
  EXPECT_TRUE(s.shell.fullscreen());
  EXPECT_EQ(fever_toggle_fullscreen(f), 0);
  EXPECT_TRUE(f->windowed);
  EXPECT_FALSE(s.shell.fullscreen());

  // The offscreen driver never refuses a real window; without one SDL does.
  fever_t broken = *f;
  broken.window = NULL;
  EXPECT_LT(fever_toggle_fullscreen(&broken), 0);
  EXPECT_TRUE(broken.windowed);
  broken.windowed = 0;
  EXPECT_LT(fever_toggle_fullscreen(&broken), 0);
  EXPECT_FALSE(broken.windowed);
}

TEST_F(fever_test, the_loop_runs_the_shell_then_context_one_with_the_shared_render)
{
  // fever_update hands over to context 1 in the first frame; context 1 marks
  // every frame dirty and quits at its third update, so three frames swap.
  gl_test_probe = {};
  gl_test_probe.quit_after = 3;
  int before = swaps;
  if (loop->current != 0)
    GTEST_SKIP() << "the shell handed over already in this process";
  loop_run(loop);
  EXPECT_EQ(loop->current, 1);
  EXPECT_EQ(gl_test_probe.entered, 1);
  EXPECT_GE(gl_test_probe.updates, 3);
  EXPECT_EQ(swaps - before, gl_test_probe.updates);
}

} // namespace
