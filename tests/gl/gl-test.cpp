#include "gl-test.hpp"

#include "app.hpp"

#include <dlfcn.h>

sdl_fake_t sdl;
uint32_t now;

// The stand-ins: this executable's definitions come first, SDL's own next.
#define REAL(f) reinterpret_cast<decltype(&f)>(dlsym(RTLD_NEXT, #f))
extern "C" {
int SDL_GL_SetAttribute(SDL_GLattr a, int v)
{
  sdl.attrs.push_back({a, v});
  return int(sdl.attrs.size()) == sdl.fail_attr ? -1 : REAL(SDL_GL_SetAttribute)(a, v);
}
SDL_bool SDL_SetHint(const char *name, const char *value) { return sdl.fail_hint ? SDL_FALSE : REAL(SDL_SetHint)(name, value); }
SDL_Window *SDL_CreateWindow(const char *title, int x, int y, int w, int h, Uint32 flags)
{
  return sdl.windows.push_back({x, y, w, h, int(flags)}), sdl.fail_windows-- > 0 ? nullptr : REAL(SDL_CreateWindow)(title, x, y, w, h, flags);
}
SDL_GLContext SDL_GL_CreateContext(SDL_Window *w) { return sdl.fail_context ? nullptr : REAL(SDL_GL_CreateContext)(w); }
int SDL_GL_SetSwapInterval(int i) { return sdl.interval = i, sdl.fail_vsync ? -1 : REAL(SDL_GL_SetSwapInterval)(i); }
void *SDL_GL_GetProcAddress(const char *f) { return sdl.fail_glad ? nullptr : REAL(SDL_GL_GetProcAddress)(f); }
void SDL_GL_GetDrawableSize(SDL_Window *w, int *x, int *y)
{
  const auto real = REAL(SDL_GL_GetDrawableSize);
  real(w, x, y), *x *= sdl.scale, *y *= sdl.scale;
}
void SDL_GL_SwapWindow(SDL_Window *w) { sdl.swaps++, glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, sdl.presented.data()), REAL(SDL_GL_SwapWindow)(w); }
void SDL_Delay(Uint32 ms) { sdl.delays.push_back(ms), REAL(SDL_Delay)(ms); }
// The program's own callocs and frees, linked to come here first: no calloc asks for nothing, the nth can fail, and
// what is not yet freed is known.
void *__real_calloc(size_t n, size_t size);
void __real_free(void *p);
void *__wrap_calloc(size_t n, size_t size)
{
  void *p = n && size ? --sdl.fail_calloc ? __real_calloc(n, size) : nullptr : (abort(), nullptr);
  return p && allocated().insert(p).second, p;
}
void __wrap_free(void *p) { allocated().erase(p), __real_free(p); }
// Never really switched, so that the suite's window keeps its size.
int SDL_SetWindowFullscreen(SDL_Window *, Uint32 flags) { return sdl.fullscreen = int(flags), -sdl.fail_fullscreen; }
// Any tune is a WAV of two silent samples (the last one's end is the string's NUL): the suites need no files.
Mix_Music *Mix_LoadMUS(const char *file)
{
  static const char wav[] = "RIFF\x28\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0data\x04\0\0\0\0\0\0";
  return sdl.music = file, Mix_LoadMUS_RW(SDL_RWFromConstMem(wav, sizeof(wav)), 1);
}
}

loop_t *gl_loop()
{
  // The shell and the logo screen as the program has them; the game's place is empty.
  static const loop_ops_t none = {}, *const contexts[] = {app_contexts[0], app_contexts[1], &none, nullptr};
  static char *argv[] = {(char *)"gl_tests", (char *)"--window", (char *)"1024x640", nullptr};
  static loop_t *loop = (setenv("SDL_VIDEODRIVER", "offscreen", 1), setenv("SDL_AUDIODRIVER", "dummy", 1),
                         loop_startup(3, argv, contexts));
  const fever_t *fever = static_cast<fever_t *>(loop_context(loop, APP_SHELL));
  // SDL and Mesa run threads: a death test runs in a process of its own, not in a fork of them. Set in
  // every test, as each test ends with gtest's flags put back.
  return GTEST_FLAG_SET(death_test_style, "threadsafe"), SDL_GL_MakeCurrent(fever->window, fever->gl_context), loop;
}
