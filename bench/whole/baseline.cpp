// baseline: the least SDL2 + SDL2_mixer + GL 2.1 program that does what the
// game must do before its first frame -- open the same window with the same
// GL attributes, open the audio device the same way, and present one cleared
// frame -- so that the game's start-up time and memory can be measured
// against a floor on the same machine, in the same run.
//
// It then idles until a quit event or any key, like a window a player could
// close. Arguments: none (desktop-covering) or "--window" [WxH].
#include <SDL.h>
#include <SDL_mixer.h>
#include <SDL_opengl.h>

#include <cstdio>
#include <cstdlib>
#include <strings.h>

namespace {

[[noreturn]] void die(const char *what)
{
  fprintf(stderr, "Fatal error: %s: %s\n", what, SDL_GetError());
  exit(1);
}

}  // namespace

int main(int argc, char **argv)
{
  unsigned width = 800, height = 600;
  bool windowed = argc > 1 && !strcasecmp(argv[1], "--window");
  if (windowed && argc > 2)
    sscanf(argv[2], "%ux%u", &width, &height);

  if (SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER))
    die("SDL_Init");
  atexit(SDL_Quit);
  if (Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 2048) == -1)
    die("Mix_OpenAudio");

  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, 4);
  SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, 1);

  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
  if (!windowed)
    flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
  SDL_Window *window =
      SDL_CreateWindow("Orb", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height, flags);
  if (!window) {
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, 0);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, 0);
    window = SDL_CreateWindow("Orb", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                              flags);
    if (!window)
      die("SDL_CreateWindow");
  }
  if (!SDL_GL_CreateContext(window))
    die("SDL_GL_CreateContext");
  if (SDL_GL_SetSwapInterval(1) < 0)
    die("SDL_GL_SetSwapInterval");

  // One entry point is all a cleared frame needs; a full loader would only
  // add to the floor we measure against.
  auto clear = reinterpret_cast<void (*)(GLbitfield)>(SDL_GL_GetProcAddress("glClear"));
  if (!clear)
    die("glClear");
  clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  SDL_GL_SwapWindow(window);

  SDL_Event event;
  while (SDL_WaitEvent(&event))
    if (event.type == SDL_QUIT || event.type == SDL_KEYDOWN)
      break;
  return 0;
}
