// The application shell: command line, window, conversions, render and dispatch.
#include "gl-fixture.hpp"
#include "tex-node.hpp"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <cstring>
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
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    shell_t shell(c.args);
    EXPECT_EQ(shell.fever->windowed, c.windowed ? 1u : 0u);
    EXPECT_EQ(shell.fullscreen(), !c.windowed);
    int w = int(shell.fever->width), h = int(shell.fever->height);
    EXPECT_EQ(w * 10000 + h, int(c.width * 10000 + c.height));
    if (c.windowed)
      SDL_GetWindowSize(shell.fever->window, &w, &h);
    EXPECT_EQ(w * 10000 + h, int(c.width * 10000 + c.height));
  }
}

TEST_F(fever_test, start_up_builds_the_root_with_its_clear_node_and_a_gl_2_1_context)
{
  EXPECT_STREQ(fever->root->name, "fever");
  tableau_t *clear = tableau_lookup_name(fever->root, "gl-clear-fever");
  ASSERT_NE(clear, nullptr);
  EXPECT_FLOAT_EQ(clear->alpha, 0.f);
  // First child on layer 0, so every frame starts with the clear.
  EXPECT_EQ(fever->root->layers[0].next, &clear->link);

  EXPECT_EQ(SDL_GL_GetCurrentContext(), fever->gl_context);
  EXPECT_STREQ(SDL_GetWindowTitle(fever->window), "Orb");
  EXPECT_TRUE(SDL_GetWindowFlags(fever->window) & SDL_WINDOW_RESIZABLE);
  EXPECT_EQ(SDL_GL_GetSwapInterval(), 1);
  EXPECT_TRUE(glIsEnabled(GL_MULTISAMPLE));
  int major = 0, minor = 0, profile = 0;
  SDL_GL_GetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, &major);
  SDL_GL_GetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, &minor);
  SDL_GL_GetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, &profile);
  EXPECT_EQ(major * 10 + minor, 21);
  EXPECT_EQ(profile, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  EXPECT_EQ(fever_window_id(fever), SDL_GetWindowID(fever->window));
}

TEST_F(fever_test, conversions_between_pixels_and_ndc_round_exactly)
{
  // 512 x 256: the scale factors are powers of two, so the halves below are
  // exact and show roundf (away from zero), not truncation or rint.
  struct {
    const char *size;
    int x, y;     // pixels, y from the top to NDC; y from the bottom back
    float nx, ny;
    bool there;   // pixels -> NDC (else NDC -> pixels)
  } cases[] = {
      {"800x600", 0, 0, -1, 1, true},
      {"800x600", 400, 300, 0, 0, true},
      {"800x600", 200, 450, -0.5f, -0.5f, true},
      {"800x600", -400, 900, -2, -2, true},
      {"800x600", 400, 300, 0, 0, false},
      {"800x600", 0, 600, -1, 1, false},
      {"800x600", 2, 0, -0.994f, -1.f, false},  // 2.4 rounds down
      {"800x600", 4, 3, -0.99f, -0.99f, false},
      {"512x256", 3, 2, -0.990234375f, -0.98828125f, false},    // 2.5, 1.5
      {"512x256", -3, -2, -1.009765625f, -1.01171875f, false},  // -2.5, -1.5
      {"512x256", 5, 3, -0.982421875f, -0.98046875f, false},    // 4.5, 2.5
  };
  for (auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " " << c.x << "," << c.y);
    shell_t shell({"orb", "--window", c.size});
    const fever_t *f = shell.fever;
    if (c.there) {
      float x = 9, y = 9;
      fever_viewport_to_ndc(f, c.x, c.y, &x, &y);
      EXPECT_FLOAT_EQ(x, c.nx);
      EXPECT_FLOAT_EQ(y, c.ny);
      fever_canvas_to_ndc(f, c.x, c.y, &x, &y);
      EXPECT_FLOAT_EQ(x, c.nx);
      EXPECT_FLOAT_EQ(y, c.ny);
    } else {
      int x = 99, y = 99;
      fever_viewport_from_ndc(f, &x, &y, c.nx, c.ny);
      EXPECT_EQ(x, c.x);
      EXPECT_EQ(y, c.y);
      fever_canvas_from_ndc(f, &x, &y, c.nx, c.ny);
      EXPECT_EQ(x, c.x);
      EXPECT_EQ(y, c.y);
    }
  }
  shell_t shell({"orb", "--window", "800x600"});
  fever_t *f = shell.fever;
  // Exactly the single-precision steps: q + q - 1 with q = x / w.
  float nx, ny;
  fever_viewport_to_ndc(f, 1, 7, &nx, &ny);
  float q = 1.f / 800.f, r = 1.f - 7.f / 600.f;
  EXPECT_EQ(nx, (q + q) - 1.f);
  EXPECT_EQ(ny, (r + r) - 1.f);
  // The current size is asked every time.
  SDL_SetWindowSize(f->window, 400, 200);
  int w, h;
  fever_canvas_size(f, &w, &h);
  EXPECT_EQ(w * 1000 + h, 400200);
  fever_viewport_size(f, &w, &h);
  EXPECT_EQ(w * 1000 + h, 400200);
  fever_viewport_to_ndc(f, 100, 50, &nx, &ny);
  EXPECT_FLOAT_EQ(nx, -0.5f);
  EXPECT_FLOAT_EQ(ny, 0.5f);
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

SDL_Event window_event(const fever_t *f, Uint8 sub)
{
  SDL_Event e;
  memset(&e, 0, sizeof(e));
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = fever_window_id(f);
  e.window.event = sub;
  e.window.data1 = e.window.data2 = 1;  // not used: the drawable's size is
  return e;
}

TEST_F(fever_test, a_resize_sets_the_viewport_to_the_drawable_and_redraws)
{
  tableau_render(fever->root, loop);  // take any pending mark away
  SDL_SetWindowSize(fever->window, 640, 400);
  SDL_PumpEvents();
  GLint v[4];
  // Other window events and keys change nothing.
  for (SDL_Event e : {window_event(fever, SDL_WINDOWEVENT_SIZE_CHANGED), SDL_Event{SDL_KEYDOWN}}) {
    fever_dispatch(loop, NULL, &e);
    glGetIntegerv(GL_VIEWPORT, v);
    EXPECT_EQ(v[2], GL_TEST_WIDTH);
    EXPECT_FALSE(fever->root->dirty);
  }
  SDL_Event resized = window_event(fever, SDL_WINDOWEVENT_RESIZED);
  fever_dispatch(loop, NULL, &resized);
  glGetIntegerv(GL_VIEWPORT, v);
  EXPECT_EQ(v[0] + v[1], 0);
  EXPECT_EQ(v[2], 640);
  EXPECT_EQ(v[3], 400);
  EXPECT_TRUE(fever->root->dirty);
  SDL_SetWindowSize(fever->window, GL_TEST_WIDTH, GL_TEST_HEIGHT);
  glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
}

TEST_F(fever_test, a_dirty_tree_is_cleared_drawn_and_swapped_a_clean_one_sleeps_100_ms)
{
  const uint8_t px[4] = {255, 255, 255, 255};
  float m[16];
  gl_test_place(m, 0, 0, 10, 10);
  const tableau_conf_t c = gl_test_conf(fever->root, "dot");
  tableau_t *dot = tex_node_new_buf(&c, 1, 1, px, m);
  gl_test_clear(1, 0, 0, 1);
  tableau_dirty(fever->root);
  ASSERT_TRUE(tableau_render(fever->root, loop));
  gl_test_frame_t f = gl_test_read();
  gl_test_expect_rgba(f.at(5, 5), 255, 255, 255, -1, 0);
  gl_test_expect_rgba(f.at(100, 100), 0, 0, 0, 0, 0);

  tableau_dirty(fever->root);
  int swapped = swaps, slept = delays_100;
  fever_render(loop, NULL);
  EXPECT_EQ(swaps, swapped + 1);
  EXPECT_EQ(delays_100, slept);
  EXPECT_FALSE(fever->root->dirty);

  auto start = std::chrono::steady_clock::now();
  fever_render(loop, NULL);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(swaps, swapped + 1);
  EXPECT_EQ(delays_100, slept + 1);
  EXPECT_GE(ms, 99);
  tableau_free(dot);
}

TEST_F(fever_test, the_full_screen_switch_flips_windowed_only_when_sdl_agrees)
{
  shell_t shell({"orb", "--window", "640x480"});
  fever_t *f = shell.fever;
  ASSERT_TRUE(f->windowed);
  EXPECT_EQ(fever_toggle_fullscreen(f), 0);
  EXPECT_FALSE(f->windowed);
  EXPECT_TRUE(shell.fullscreen());
  EXPECT_EQ(fever_toggle_fullscreen(f), 0);
  EXPECT_TRUE(f->windowed);

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
