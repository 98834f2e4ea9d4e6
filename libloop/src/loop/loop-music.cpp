// loop: background music on SDL_mixer's music channel.
//
// The music fields of loop_t are shared with the finished hook, which
// SDL_mixer runs on its audio thread (with the audio lock held) when a piece
// ends, and on the calling thread from within Mix_HaltMusic. No lock of our
// own is taken: the program sets music only from context enter operations.
#include "loop/loop.hpp"

#include "loop/fatal.hpp"

#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Set by loop_startup before the hook is installed.
loop_t *music_finished_loop;

namespace {

char *dup_name(const char *file)
{
  char *copy = strdup(file);
  if (!copy)
    loop_fatal("Fatal error: Unable to dup \"%s\"\n", file);
  return copy;
}

// Let go of the current piece (and of the queue) before a new one takes its
// place.
void music_drop(loop_t *loop)
{
  // Mix_HaltMusic runs the finished hook: with the queue still set, the
  // hook would start the queued piece in the middle of this replacement.
  free(loop->next_file);
  loop->next_file = nullptr;
  loop->next_flags = 0;
  Mix_HaltMusic();
  // Frees after the halt; Mix_FreeMusic also stops the piece should the
  // hook have restarted it for repetition.
  Mix_FreeMusic(loop->music);
  free(loop->music_file);
  loop->music_file = nullptr;
  loop->music_flags = 0;
}

}  // namespace

void loop_music_set(loop_t *loop, int flags, const char *fmt, ...)
{
  assert(loop);
  char file[256];
  va_list ap;
  va_start(ap, fmt);
  const int length = vsnprintf(file, sizeof(file), fmt, ap);
  va_end(ap);
  assert(length >= 0 && length <= 255);

  if ((flags & LOOP_MUSIC_QUEUE) && loop->music) {
    // A later queued name replaces an earlier one; the hook drops QUEUE
    // anyway, so it is not stored.
    free(loop->next_file);
    loop->next_file = dup_name(file);
    loop->next_flags = flags & ~LOOP_MUSIC_QUEUE;
    return;
  }
  if ((flags & LOOP_MUSIC_KEEP) && loop->music && strcmp(file, loop->music_file) == 0)
    return;

  Mix_Music *music = Mix_LoadMUS(file);
  if (!music) {
    if (flags & LOOP_MUSIC_OPTIONAL)
      return;
    loop_fatal("Fatal error: Unable to load music \"%s\", reason: \"%s\"\n", file, SDL_GetError());
  }

  if (loop->music)
    music_drop(loop);

  loop->music = music;
  loop->music_file = dup_name(file);
  loop->music_flags = flags;

  Mix_VolumeMusic(100);
  const int played =
      (flags & LOOP_MUSIC_FADE_IN) ? Mix_FadeInMusic(music, 0, 1000) : Mix_PlayMusic(music, 0);
  if (played != 0)
    loop_fatal("Fatal error: Unable to play music\n");
  // A pause made earlier must not keep the new piece silent.
  Mix_ResumeMusic();
}

void loop_music_finished(void)
{
  loop_t *loop = music_finished_loop;
  // A queued piece wins over repetition of the current one.
  if (loop->next_file) {
    char *name = loop->next_file;
    const int flags = loop->next_flags;
    loop->next_file = nullptr;
    loop->next_flags = 0;
    loop_music_set(loop, flags, "%s", name);
    free(name);
  }
  // Repetition restarts the piece here rather than through SDL_mixer's loop
  // count, so that a fade-in is heard only on the first pass.
  if (Mix_PlayingMusic() == 0 && (loop->music_flags & LOOP_MUSIC_REPEAT)) {
    if (Mix_PlayMusic(loop->music, 0) != 0)
      loop_fatal("Fatal error: Unable to loop music\n");
  }
}

void loop_music_pause(void)
{
  Mix_PauseMusic();
}

void loop_music_resume(void)
{
  Mix_ResumeMusic();
}
