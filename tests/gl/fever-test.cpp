// The shell: start-up and its failures (with those of every record that the
// program allocates at start-up), coordinates on a drawable twice the window,
// the shared render and dispatch, the full-screen switch.
#include "gl-test.hpp"

#include "plasma-node.hpp"
#include "quietmoth.hpp"
#include "tex-node.hpp"

#include <glad/gl.h>

// The GL attributes in the order they are set, the last two only to retry a window without multisampling.
static const struct {
  SDL_GLattr attr;
  int value;
  const char *message;
} ATTRS[] = {
    {SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY, "set GL core profile"}, {SDL_GL_CONTEXT_MAJOR_VERSION, 2, "set GL major version"}, {SDL_GL_CONTEXT_MINOR_VERSION, 1, "set GL minor version"}, {SDL_GL_DOUBLEBUFFER, 1, "set GL doublebuffer"}, {SDL_GL_RED_SIZE, 8, "set GL red size"}, {SDL_GL_GREEN_SIZE, 8, "set GL green size"}, {SDL_GL_BLUE_SIZE, 8, "set GL blue size"}, {SDL_GL_ALPHA_SIZE, 8, "set GL alpha size"}, {SDL_GL_MULTISAMPLESAMPLES, 4, "et GL multisample samples"}, {SDL_GL_MULTISAMPLEBUFFERS, 1, "set GL multisample buffers"}, {SDL_GL_MULTISAMPLESAMPLES, 0, "clear GL multisample samples"}, {SDL_GL_MULTISAMPLEBUFFERS, 0, "clear GL multisample buffers"}};

static fever_t *start(std::vector<const char *> a) { return a.push_back(nullptr), (fever_t *)fever_init(gl_loop(), int(a.size()) - 1, (char **)a.data()); }

TEST(gl_fever, the_command_line_chooses_the_window_and_start_up_builds_the_root_and_its_clear_node)
{
  const int flags = SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI, C = SDL_WINDOWPOS_CENTERED;
  const struct {
    std::vector<const char *> args;
    bool windowed;
    int w, h, fail_windows;
  } rows[] = {
      // The second row's first window is refused: once more without multisampling.
      {{"orb"}, false, 800, 600, 0},
      {{"orb", "--WinDow"}, true, 800, 600, 1},
      {{"orb", "--window", "big"}, true, 800, 600, 0},
      {{"orb", "--window", "1280x720"}, true, 1280, 720, 0},
      {{"orb", "--window", "1024"}, true, 1024, 600, 0},
      {{"orb", "1280x720"}, false, 800, 600, 0},
      {{"orb", "--windowed", "640x480"}, false, 800, 600, 0}};
  for (gl_loop(); auto &r : rows) {
    std::vector<std::array<int, 2>> attrs;
    for (int i = 0; i < 10 + 2 * r.fail_windows; i++) attrs.push_back({ATTRS[i].attr, ATTRS[i].value});
    fever_t *f = (sdl = {.fail_windows = r.fail_windows}, start(r.args));
    const tableau_t *root = f->root, *clear = tableau_lookup_name(f->root, "gl-clear-fever");
    const std::array window = {C, C, r.w, r.h, flags | (r.windowed ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP)};
    EXPECT_EQ(std::tuple(sdl.attrs, sdl.windows, +f->windowed, f->width, f->height, sdl.interval, SDL_GL_GetSwapInterval()),
              std::tuple(attrs, std::vector(r.fail_windows + 1, window), +r.windowed, unsigned(r.w), unsigned(r.h), 1, 1));
    // The clear node first: every frame begins with it.
    EXPECT_EQ(std::tuple(glIsEnabled(GL_MULTISAMPLE), fever_window_id(f), root->layers[0].next, root->alpha, +root->active,
                         +root->locked, +root->dirty, clear->alpha, +clear->active, +clear->locked, +clear->dirty),
              std::tuple(GL_TRUE, SDL_GetWindowID(f->window), &clear->link, 1.f, 1, 0, 0, 0.f, 1, 0, 0));
    SDL_GL_DeleteContext(f->gl_context), SDL_DestroyWindow(f->window), tableau_free(f->root), free(f), gl_loop();
  }
}

TEST(gl_fever, each_failure_of_start_up_or_of_an_allocation_ends_the_process_with_its_one_line)
{
  std::vector<std::pair<sdl_fake_t, std::string>> rows = {{{.fail_windows = 2}, "Unable to create SDL window"},
                                                          {{.fail_windows = 1, .fail_context = true}, "Unable to create GL context"},  // the fallback is silent
                                                          {{.fail_hint = true, .fail_vsync = true}, "Unable to enable vsync"},         // after the hint's warning
                                                          {{.fail_glad = true}, "Failed to initialize GLAD OpenGL extension loader"}};
  for (int i = 0; i < 12; i++) rows.push_back({{.fail_attr = i + 1, .fail_windows = i >= 10}, std::string("Unable to ") + ATTRS[i].message + " attribute"});
  // The records in the order that a shell, a texture node, the plasma and the logo screen allocate them.
  const char *records[] = {"allocate fever_t", "create new tableau", "create tableau \"gl-clear-fever\"", "allocate tex_t", "allocate tex_node \"x\"",
                           "create tableau \"x\"", "allocate shader", "allocate shader_node", "create tableau \"x\"", "allocate quietmoth_t"};
  for (int i = 0; i < 10; i++) rows.push_back({{.fail_calloc = i + 1}, std::string("Unable to ") + records[i]});
  const tableau_conf_t c = conf(nullptr, "x");
  for (gl_loop(); auto &[fake, out] : rows)
    EXPECT_EXIT((sdl = fake, start({"orb", "--window"}), tex_node_new_tex(&c, tex_new(1, 1, IDENTITY), IDENTITY), plasma_node_new(&c),
                 quietmoth_init(gl_loop(), 0, nullptr)),
                testing::ExitedWithCode(1),
                (fake.fail_hint ? "^Warning: Unable to suppress synthetic mouse events on touch\n" : "^") + ("Fatal error: " + out + "\n$"));
}

TEST(gl_fever, on_a_drawable_twice_the_window_canvas_and_viewport_convert_with_their_own_size_and_a_resize_sets_the_viewport)
{
  loop_t *loop = gl_loop();
  fever_t *f = gl_fever();
  int w, h, v;
  float x, y;
  sdl.scale = 2, fever_canvas_size(f, &w, &h), fever_viewport_size(f, &v, &v);
  EXPECT_EQ(std::tuple(w, h, v), std::tuple(2 * W, 2 * H, H));
  // Each family's point, counted from the top on the way to NDC and from the bottom on the way back; these NDC meet
  // halves, which go away from zero.
  fever_viewport_to_ndc(f, 256, 480, &x, &y);
  EXPECT_EQ(std::pair(x, y), std::pair(-.5f, -.5f));
  fever_canvas_to_ndc(f, 512, 960, &x, &y);
  EXPECT_EQ(std::pair(x, y), std::pair(-.5f, -.5f));
  fever_viewport_from_ndc(f, &w, &h, -1 + 2.5f / 512, -1 - 2.5f / 320);
  EXPECT_EQ(std::pair(w, h), std::pair(3, -3));
  fever_canvas_from_ndc(f, &w, &h, -1 - 2.5f / 1024, -1 + 2.5f / 640);
  EXPECT_EQ(std::pair(w, h), std::pair(-3, 3));
  SDL_Event e = {.type = SDL_WINDOWEVENT};
  std::array<GLint, 4> viewport;
  for (int resized : {0, 1}) {  // only a resize sets the viewport, in pixels
    e.window.event = resized ? SDL_WINDOWEVENT_RESIZED : SDL_WINDOWEVENT_SIZE_CHANGED, f->root->dirty = 0;
    fever_dispatch(loop, nullptr, &e), glGetIntegerv(GL_VIEWPORT, viewport.data());
    EXPECT_EQ(std::tuple(viewport, +f->root->dirty), std::tuple(std::array{0, 0, W << resized, H << resized}, resized));
  }
  sdl.scale = 1, glViewport(0, 0, W, H);  // (the shell's assertions are only of null pointers)
}

TEST(gl_fever, the_render_swaps_a_dirty_tree_or_sleeps_100_ms_and_full_screen_flips_windowed_when_sdl_agrees)
{
  tableau_dirty(gl_fever()->root), sdl = {}, fever_render(gl_loop(), nullptr);
  GLboolean mask[4];  // the frame is presented opaque, and drawing goes on in colour over a clear alpha
  GLfloat clear_colour[4];
  glGetBooleanv(GL_COLOR_WRITEMASK, mask), glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_colour);
  EXPECT_EQ(std::tuple(sdl.swaps, sdl.delays.size(), +gl_fever()->root->dirty, sdl.presented[3], mask[0] && mask[1] && mask[2] && mask[3], clear_colour[3]),
            std::tuple(1, 0u, 0, 255, true, 0.f));
  fever_render(gl_loop(), nullptr);
  EXPECT_EQ(std::tuple(sdl.swaps, sdl.delays), std::tuple(1, std::vector<Uint32>{100}));
  for (fever_t f = *gl_fever(); int i : {0, 1, 2, 3}) {  // windowed or not, SDL agreeing or not
    f.windowed = i & 1, sdl.fail_fullscreen = i & 2;
    const int result = fever_toggle_fullscreen(&f);
    EXPECT_EQ(std::tuple(result, sdl.fullscreen, +f.windowed), std::tuple(i & 2 ? -1 : 0, i & 1 ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0, !(i & 1) == !(i & 2)));
  }
  sdl = {};
}
