// loop: start-up, the context table and the main loop.
#include "loop/loop.hpp"

#include "loop/fatal.hpp"

#include <cassert>
#include <cstddef>
#include <cstdlib>

// The context objects sit right behind the fixed fields, in the same
// allocation, so one calloc sizes the whole framework object.
static_assert(offsetof(loop_t, contexts) == sizeof(loop_t));
static_assert(offsetof(loop_t, music) == 0);
static_assert(offsetof(loop_ops_t, init) == 0 * sizeof(void *));
static_assert(offsetof(loop_ops_t, enter) == 2 * sizeof(void *));
static_assert(offsetof(loop_ops_t, dispatch) == 6 * sizeof(void *));

// Defined in loop-music.cpp: the hook has no user argument, so it finds the
// loop here.
extern loop_t *music_finished_loop;

namespace {

constexpr int GUID_TEXT_SIZE = 64;

// Every controller SDL knows a mapping for is opened and left open, so its
// input arrives as events; the handles are not needed afterwards.
void open_controllers(void)
{
  for (int i = 0; i < SDL_NumJoysticks(); i++) {
    char guid[GUID_TEXT_SIZE] = {};
    SDL_JoystickGetGUIDString(SDL_JoystickGetDeviceGUID(i), guid, sizeof(guid));
    if (!SDL_IsGameController(i)) {
      loop_warn(
          "Ignoring unrecognized joystick \"%s\",\nadd a \"gamecontrollerdb.txt\" to use it.\n",
          guid);
      continue;
    }
    if (!SDL_GameControllerOpen(i))
      loop_warn("Warning: Could not open game controller \"%s\": %s\n", guid, SDL_GetError());
  }
}

void call(void (*op)(loop_t *, void *), loop_t *loop)
{
  if (op)
    op(loop, loop->contexts[loop->current]);
}

}  // namespace

loop_t *loop_startup(int argc, char **argv, const loop_ops_t *const *ops)
{
  assert(ops);
  int n_ops = 0;
  while (ops[n_ops])
    n_ops++;
  assert(n_ops > 0);

  loop_t *loop = static_cast<loop_t *>(calloc(1, sizeof(loop_t) + n_ops * sizeof(void *)));
  if (!loop)
    loop_fatal("Fatal error: Unable to allocate loop_t\n");

  if (SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER) != 0)
    loop_fatal("Fatal error: Unable to initialize SDL\n");
  if (atexit(SDL_Quit) != 0)
    loop_fatal("Fatal error: Unable to set exit handler\n");
  if (Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 2048) == -1)
    loop_fatal("Fatal error: Unable to open audio\n");

  // The hook may fire as soon as music plays, so the loop must be reachable
  // before it is installed.
  music_finished_loop = loop;
  Mix_HookMusicFinished(loop_music_finished);
  Mix_AllocateChannels(32);

  // The database is optional: a missing file gives a null stream, which the
  // call rejects without printing anything.
  SDL_GameControllerAddMappingsFromRW(SDL_RWFromFile("gamecontrollerdb.txt", "rb"), 1);
  open_controllers();

  // n_ops grows with each init so that a context can look up the ones
  // before it (and its own, still null) but none after it.
  for (int i = 0; i < n_ops; i++) {
    loop->n_ops = i + 1;
    if (ops[i]->init)
      loop->contexts[i] = ops[i]->init(loop, argc, argv);
  }
  // Attached last: until now no context may be entered.
  loop->ops = ops;
  return loop;
}

void loop_run(loop_t *loop)
{
  assert(loop);
  for (;;) {
    do {
      loop->context_changed = 0;
      call(loop->ops[loop->current]->update, loop);
    } while (loop->context_changed);

    call(loop->ops[loop->current]->render, loop);
    // A context entered from render has not had its update yet: it gets one
    // before any event reaches it.
    if (loop->context_changed)
      continue;

    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      if (event.type == SDL_QUIT || event.type == SDL_APP_TERMINATING)
        return;
      if (const auto dispatch = loop->ops[loop->current]->dispatch)
        dispatch(loop, loop->contexts[loop->current], &event);
      // The events still queued belong to the new context, which must first
      // update and render once.
      if (loop->context_changed)
        break;
    }
  }
}

int loop_shutdown(loop_t *loop)
{
  (void)loop;
  return 0;
}

void loop_context_enter(loop_t *loop, int context)
{
  assert(loop);
  assert(context >= 0 && context < loop->n_ops);
  if (context == loop->current)
    return;
  call(loop->ops[loop->current]->leave, loop);
  loop->current = context;
  call(loop->ops[loop->current]->enter, loop);
  loop->context_changed = 1;
}

void *loop_context(loop_t *loop, int context)
{
  assert(loop);
  if (context < 0)
    context = loop->current;
  assert(context < loop->n_ops);
  return loop->contexts[context];
}

void loop_quit(void)
{
  SDL_Event event = {};
  event.type = SDL_QUIT;
  SDL_PushEvent(&event);
}
