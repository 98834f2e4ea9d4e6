// loop: the game framework -- start-up of SDL, the mixer and the game
// controllers; a table of contexts (screens) with one object each and the
// main loop that drives the current one; ten tick timers; background music.
//
// main() calls loop_startup(argc, argv, table), loop_run(loop) and returns
// loop_shutdown(loop). Contexts are switched by index with
// loop_context_enter(); every later context reaches an earlier one's object
// with loop_context().
//
// Start-up, in order: SDL (audio, video, game controllers) with SDL_Quit
// registered at exit; the mixer at 44100 Hz, 16-bit stereo, 2048-sample
// chunks, 32 effect channels, the music-finished hook; the mappings of
// "gamecontrollerdb.txt" if there is one; every controller present (others
// are reported on stderr and skipped); then each context's init in table
// order. While context i initialises, loop_context() accepts 0..i (its own
// entry still null). The table is attached only after the last init, so an
// init must not call loop_context_enter(). Context 0 is current and is not
// entered.
//
// The main loop, one frame: clear the switch flag and run the current
// context's update; if the update switched contexts, run the new one's update
// at once (so a context's first update comes before anything is drawn). Then
// render; a render that switched starts the next frame without polling. Then
// dispatch the pending events one by one, stopping at a switch (the rest wait
// for the next frame) or at an empty queue. SDL_QUIT and SDL_APP_TERMINATING
// end loop_run without being dispatched. There is no frame timer.
//
// Switching: loop_context_enter(loop, i) with i already current does nothing;
// otherwise the old context's leave runs (current still names it), then the
// new one's enter (current already names it).
//
// Failures: every start-up step that fails, a music file that cannot be
// loaded (unless LOOP_MUSIC_OPTIONAL), a name that cannot be copied, and
// music that cannot be started or restarted end the process: one line
// "Fatal error: ..." on stderr, exit status 1 (see fatal.hpp). Broken
// preconditions are assertions: null loop, a context or timer index out of
// range, a music name longer than 255 characters.
//
// Ownership: the loop_t and every context object live until the process
// exits; nothing here is ever freed. SDL_Quit runs from an atexit handler.
//
// Threads: main thread only, except the music fields: when a piece ends,
// SDL_mixer calls loop_music_finished() on its audio thread (audio lock
// held), which may load and start the queued piece there. loop_music_set()
// takes no lock: call it from the main thread, as the contexts' enter does.
//
// Does NOT: pace frames (the contexts' render does, through vsync), free the
// last piece of music, open controllers plugged in after start-up, call the
// current context's leave at shutdown.
#pragma once

#include <SDL.h>
#include <SDL_mixer.h>

#include <cstdint>

constexpr unsigned LOOP_TICKS_CNT = 10;

// Flags of loop_music_set().
constexpr int LOOP_MUSIC_REPEAT = 1;    // restart from the beginning when it ends
constexpr int LOOP_MUSIC_FADE_IN = 2;   // 1000 ms fade-in on the first start
constexpr int LOOP_MUSIC_OPTIONAL = 4;  // a file that fails to load is ignored
constexpr int LOOP_MUSIC_QUEUE = 8;     // wait for the current piece to end
constexpr int LOOP_MUSIC_KEEP = 16;     // same file already loaded: do nothing

struct loop_t;

// A context's operations, in slot order; any may be null.
struct loop_ops_t {
  void *(*init)(loop_t *loop, int argc, char **argv);  // once, by loop_startup
  void (*reserved)(void);                              // always null
  void (*enter)(loop_t *loop, void *object);
  void (*leave)(loop_t *loop, void *object);
  void (*update)(loop_t *loop, void *object);                            // every frame
  void (*render)(loop_t *loop, void *object);                            // every frame after update
  void (*dispatch)(loop_t *loop, void *object, const SDL_Event *event);  // per polled event
};

struct loop_t {
  Mix_Music *music;                // current music, null when none
  char *music_file;                // owned: name music was loaded from
  char *next_file;                 // owned: queued name, null when none
  uint32_t music_flags;            // flags music was started with, as passed
  uint32_t next_flags;             // flags for the queued name, without QUEUE
  uint32_t ticks[LOOP_TICKS_CNT];  // each timer's base tick count (ms)
  uint32_t paused_at;              // tick count when the timers were paused
  uint32_t paused : 1;             // the timers are paused
  uint32_t context_changed : 1;    // set by loop_context_enter, cleared by loop_run
  const loop_ops_t *const *ops;    // the context table, attached at the end of start-up
  int n_ops;                       // number of contexts
  int current;                     // index of the current context
  void *contexts[];                // n_ops objects, as their init returned them
};

// Bring up SDL, audio, controllers, and init every context in table order.
loop_t *loop_startup(int argc, char **argv, const loop_ops_t *const *ops);
// Run update, render and dispatch of the current context until a quit event.
void loop_run(loop_t *loop);
// Release nothing; 0, the process exit status.
int loop_shutdown(loop_t *loop);
// Leave the current context and enter another (nothing when it is current).
void loop_context_enter(loop_t *loop, int context);
// The object of a context; a negative index means the current one.
void *loop_context(loop_t *loop, int context);
// Push an SDL_QUIT event so that loop_run returns at its next poll.
void loop_quit(void);

// Milliseconds since the timer's base (resumes paused timers first).
uint32_t loop_ticks(loop_t *loop, unsigned timer);
// Make now the timer's base (resumes paused timers first).
void loop_ticks_reset(loop_t *loop, unsigned timer);
// 1 (and the timer reset) when period ms have passed, else 0.
int loop_ticks_elapsed(loop_t *loop, unsigned timer, uint32_t period);
// Pause all ten timers until the next query or reset of any of them.
void loop_ticks_pause(loop_t *loop);

// The clock behind the tick timers: SDL_GetTicks unless a test installs its
// own, so that time can be driven instead of slept through.
extern uint32_t (*loop_clock)(void);

// Load and start a piece of music named by a printf format (at most 255
// characters once formatted; relative to the working directory), at volume
// 100 of 128, one pass: repeating is the hook's work. QUEUE with music loaded
// only remembers the name (a later queued name replaces it); KEEP with the
// same name loaded changes nothing, not even the flags; otherwise the old
// piece is halted and freed (dropping the queue) and the new one starts.
// Fatal: a load failure without OPTIONAL, a failed copy of the name, a failed
// start. An OPTIONAL file that fails to load leaves everything as it was.
void loop_music_set(loop_t *loop, int flags, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
// The music-finished hook (installed by loop_startup; SDL_mixer also calls it
// from within Mix_HaltMusic): start the queued piece, which replaces even a
// repeating one; else restart a REPEAT piece from the start, without fade.
void loop_music_finished(void);
// Pause the music channel (every loop_music_set resumes it).
void loop_music_pause(void);
// Resume the music channel.
void loop_music_resume(void);
