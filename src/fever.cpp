#include "fever.hpp"

#include "app.hpp"
#include "clear-node.hpp"
#include "tex.hpp"

#include "loop/fatal.hpp"

#include <glad/gl.h>

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

constexpr uint32_t FEVER_DEFAULT_WIDTH = 800;
constexpr uint32_t FEVER_DEFAULT_HEIGHT = 600;

struct fever_gl_attr_t {
  SDL_GLattr attr;
  int value;
  const char *message;  // fatal when SDL refuses the attribute
};

// In this order. The profile requested is the compatibility profile, whatever
// the message says; no depth or stencil buffer is asked for.
const fever_gl_attr_t FEVER_GL_ATTRS[] = {
    {SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY,
     "Fatal error: Unable to set GL core profile attribute\n"},
    {SDL_GL_CONTEXT_MAJOR_VERSION, 2, "Fatal error: Unable to set GL major version attribute\n"},
    {SDL_GL_CONTEXT_MINOR_VERSION, 1, "Fatal error: Unable to set GL minor version attribute\n"},
    {SDL_GL_DOUBLEBUFFER, 1, "Fatal error: Unable to set GL doublebuffer attribute\n"},
    {SDL_GL_RED_SIZE, 8, "Fatal error: Unable to set GL red size attribute\n"},
    {SDL_GL_GREEN_SIZE, 8, "Fatal error: Unable to set GL green size attribute\n"},
    {SDL_GL_BLUE_SIZE, 8, "Fatal error: Unable to set GL blue size attribute\n"},
    {SDL_GL_ALPHA_SIZE, 8, "Fatal error: Unable to set GL alpha size attribute\n"},
    {SDL_GL_MULTISAMPLESAMPLES, 4, "Fatal error: Unable to et GL multisample samples attribute\n"},
    {SDL_GL_MULTISAMPLEBUFFERS, 1, "Fatal error: Unable to set GL multisample buffers attribute\n"},
};

// GLAD wants a function returning a function pointer; SDL hands out the
// address as void *.
GLADapiproc fever_gl_proc(const char *name)
{
  return reinterpret_cast<GLADapiproc>(SDL_GL_GetProcAddress(name));
}

// With no usable display SDL falls back to its offscreen driver, where the
// game would run unseen and unpaced: the offscreen swap neither waits nor
// hands the frame to the GL, so the queued GL work grows without bound.
// Only a run that asks for that driver (the GL and game tests do) gets it.
void fever_require_display(void)
{
  const char *driver = SDL_GetCurrentVideoDriver();
  const char *asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
  if (driver && !strcmp(driver, "offscreen") && !(asked && strstr(asked, "offscreen")))
    loop_fatal(
        "Fatal error: No display: SDL reached neither X11 nor Wayland (check DISPLAY or "
        "WAYLAND_DISPLAY); play in a desktop session, or run ./play.sh for a headless preview\n");
}

void fever_apply_command_line(fever_t *fever, int argc, char **argv)
{
  if (argc < 2 || strcasecmp(argv[1], "--window"))
    return;
  fever->windowed = 1;
  // A size that does not parse, wholly or in part, keeps the defaults.
  if (argc > 2)
    (void)sscanf(argv[2], "%ux%u", &fever->width, &fever->height);
}

SDL_Window *fever_create_window(const fever_t *fever)
{
  uint32_t flags = SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
  if (!fever->windowed)
    flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
  return SDL_CreateWindow("Orb", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, int(fever->width),
                          int(fever->height), flags);
}

// Where a size comes from: the drawable in pixels (SDL_GL_GetDrawableSize)
// for the canvas, the window in screen coordinates (SDL_GetWindowSize) for
// the viewport. The conversions are the same for both.
using fever_size_fn = void (*)(SDL_Window *window, int *w, int *h);

void fever_size(const fever_t *fever, fever_size_fn size, int *res_width, int *res_height)
{
  assert(fever);
  assert(res_width);
  assert(res_height);
  size(fever->window, res_width, res_height);
}

void fever_to_ndc(const fever_t *fever, fever_size_fn size, int x, int y, float *res_x,
                  float *res_y)
{
  assert(fever);
  assert(res_x);
  assert(res_y);
  int w;
  int h;
  fever_size(fever, size, &w, &h);
  float q = float(x) / float(w);
  *res_x = (q + q) - 1.f;
  float r = 1.f - float(y) / float(h);
  *res_y = (r + r) - 1.f;
}

void fever_from_ndc(const fever_t *fever, fever_size_fn size, int *res_x, int *res_y, float x,
                    float y)
{
  assert(fever);
  assert(res_x);
  assert(res_y);
  int w;
  int h;
  fever_size(fever, size, &w, &h);
  *res_x = int(roundf((x + 1.f) * (float(w) * 0.5f)));
  *res_y = int(roundf((y + 1.f) * (float(h) * 0.5f)));
}

// A compositor that blends windows (Wayland's do) shows the frame through its
// alpha, and the drawing leaves that alpha at 0 where the clear shows and
// below 1 under the blended sprites: the desktop would shine through. SDL asks
// EGL for opaque presentation, but Mesa's software path does not offer it.
// So alpha alone is set to 1 before each swap; the colours are untouched and
// the clear colour goes back to GL's default, which the clear node relies on.
void fever_make_opaque(void)
{
  glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
  glClearColor(0.f, 0.f, 0.f, 1.f);
  glClear(GL_COLOR_BUFFER_BIT);
  glClearColor(0.f, 0.f, 0.f, 0.f);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
}

// The root "fever" and its clear node. Scene nodes touch no GL, so they can
// come before the window.
void fever_make_scene(fever_t *fever)
{
  const tableau_conf_t root_conf = {.parent = nullptr,
                                    .layer = 0,
                                    .name = "fever",
                                    .alpha = 1.f,
                                    .active = 1,
                                    .locked = 0,
                                    .dirty = 0};
  fever->root = tableau_new(&root_conf, nullptr, nullptr);
  if (!fever->root)
    loop_fatal("Fatal error: Unable to create new tableau\n");
  const tableau_conf_t clear_conf = {.parent = fever->root,
                                     .layer = 0,
                                     .name = "gl-clear-fever",
                                     .alpha = 0.f,
                                     .active = 1,
                                     .locked = 0,
                                     .dirty = 0};
  clear_node_new(&clear_conf);
}

// The GL attributes, then the window: multisampled if the driver can.
void fever_open_window(fever_t *fever)
{
  for (const fever_gl_attr_t &a : FEVER_GL_ATTRS)
    if (SDL_GL_SetAttribute(a.attr, a.value) < 0)
      loop_fatal("%s", a.message);

  // Touches must not also arrive as synthetic mouse events.
  if (!SDL_SetHint("SDL_TOUCH_MOUSE_EVENTS", "0"))
    loop_warn("Warning: Unable to suppress synthetic mouse events on touch\n");

  fever->window = fever_create_window(fever);
  if (fever->window)
    return;
  // Not every driver offers a 4x multisampled window: try once without.
  if (SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, 0) < 0)
    loop_fatal("Fatal error: Unable to clear GL multisample samples attribute\n");
  if (SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, 0) < 0)
    loop_fatal("Fatal error: Unable to clear GL multisample buffers attribute\n");
  fever->window = fever_create_window(fever);
  if (!fever->window)
    loop_fatal("Fatal error: Unable to create SDL window\n");
}

// The window's GL context, synchronised swaps and the GL entry points.
void fever_make_gl(fever_t *fever)
{
  fever->gl_context = SDL_GL_CreateContext(fever->window);
  if (!fever->gl_context)
    loop_fatal("Fatal error: Unable to create GL context\n");
  // The main loop has no frame timer: the synchronised swap paces it.
  if (SDL_GL_SetSwapInterval(1) < 0)
    loop_fatal("Fatal error: Unable to enable vsync\n");
  if (!gladLoadGL(fever_gl_proc))
    loop_fatal("Fatal error: Failed to initialize GLAD OpenGL extension loader\n");
  glEnable(GL_MULTISAMPLE);
}

}  // namespace

void *fever_init(loop_t *, int argc, char **argv)
{
  fever_require_display();
  fever_t *fever = static_cast<fever_t *>(calloc(1, sizeof(fever_t)));
  if (!fever)
    loop_fatal("Fatal error: Unable to allocate fever_t\n");
  fever_make_scene(fever);
  fever->width = FEVER_DEFAULT_WIDTH;
  fever->height = FEVER_DEFAULT_HEIGHT;
  fever_apply_command_line(fever, argc, argv);
  fever_open_window(fever);
  fever_make_gl(fever);
  return fever;
}

void fever_update(loop_t *loop, void *)
{
  loop_context_enter(loop, APP_LOGO);
}

void fever_render(loop_t *loop, void *)
{
  fever_t *fever = static_cast<fever_t *>(loop_context(loop, APP_SHELL));
  if (tableau_render(fever->root, loop)) {
    tex_render_end();
    fever_make_opaque();
    SDL_GL_SwapWindow(fever->window);
    // A swap that presents nothing (SDL's offscreen driver swaps a pbuffer)
    // neither waits nor hands the frame to the GL: without the flush every
    // frame's commands would pile up in the driver. After a real swap there
    // is nothing left to flush.
    glFlush();
  } else {
    SDL_Delay(100);
  }
}

void fever_dispatch(loop_t *loop, void *, const SDL_Event *event)
{
  fever_t *fever = static_cast<fever_t *>(loop_context(loop, APP_SHELL));
  if (event->type != SDL_WINDOWEVENT || event->window.event != SDL_WINDOWEVENT_RESIZED)
    return;
  // The event carries screen coordinates; GL wants pixels, which differ on
  // high-density displays.
  int width;
  int height;
  fever_canvas_size(fever, &width, &height);
  glViewport(0, 0, width, height);
  tableau_dirty(fever->root);
}

uint32_t fever_window_id(const fever_t *fever)
{
  return SDL_GetWindowID(fever->window);
}

int fever_toggle_fullscreen(fever_t *fever)
{
  int res;
  if (fever->windowed) {
    res = SDL_SetWindowFullscreen(fever->window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    if (res == 0)
      fever->windowed = 0;
  } else {
    res = SDL_SetWindowFullscreen(fever->window, 0);
    if (res == 0)
      fever->windowed = 1;
  }
  return res;
}

void fever_canvas_size(const fever_t *fever, int *res_width, int *res_height)
{
  fever_size(fever, SDL_GL_GetDrawableSize, res_width, res_height);
}

void fever_canvas_to_ndc(const fever_t *fever, int x, int y, float *res_x, float *res_y)
{
  fever_to_ndc(fever, SDL_GL_GetDrawableSize, x, y, res_x, res_y);
}

void fever_canvas_from_ndc(const fever_t *fever, int *res_x, int *res_y, float x, float y)
{
  fever_from_ndc(fever, SDL_GL_GetDrawableSize, res_x, res_y, x, y);
}

void fever_viewport_size(const fever_t *fever, int *res_width, int *res_height)
{
  fever_size(fever, SDL_GetWindowSize, res_width, res_height);
}

void fever_viewport_to_ndc(const fever_t *fever, int x, int y, float *res_x, float *res_y)
{
  fever_to_ndc(fever, SDL_GetWindowSize, x, y, res_x, res_y);
}

void fever_viewport_from_ndc(const fever_t *fever, int *res_x, int *res_y, float x, float y)
{
  fever_from_ndc(fever, SDL_GetWindowSize, res_x, res_y, x, y);
}

const loop_ops_t fever_ops = {
    .init = fever_init,
    .reserved = nullptr,
    .enter = nullptr,
    .leave = nullptr,
    .update = fever_update,
    .render = nullptr,
    .dispatch = nullptr,
};
