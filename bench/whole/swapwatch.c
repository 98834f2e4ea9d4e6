/* swapwatch: an LD_PRELOAD probe for whole-program measurements.
 *
 * It wraps SDL_GL_SwapWindow and records, in a small file that the measuring
 * script maps as well, the wall-clock time of the first presented frame and
 * the number of frames presented so far. Counting through shared memory costs
 * the measured program one increment per frame and no system call, so it does
 * not disturb what it measures. The file is named by SWAPWATCH_FILE; without
 * it the probe only forwards the call.
 *
 * It also counts the textures the program uploads (glTexImage2D, reached
 * through SDL_GL_GetProcAddress) and their bytes, so that a memory soak can
 * tell a cache the program fills on demand from a leak.
 *
 * SWAPWATCH_SPEED=N makes SDL's tick count run N times as fast, so a check
 * can reach what happens ten seconds into the program (the logo's end, the
 * game's music) in a second, without changing the program. Only the
 * program's view of time changes; SDL_Delay still sleeps real time.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

typedef struct SDL_Window SDL_Window;

struct swapwatch {
  uint64_t first_swap_ns; /* CLOCK_REALTIME of the first presented frame */
  uint64_t swaps;         /* frames presented */
  uint64_t plays[4];      /* starts of the first four WAV chunks loaded, by load order */
  uint64_t textures;      /* glTexImage2D calls with pixels */
  uint64_t texture_bytes; /* their width * height * 4 */
};

typedef struct Mix_Chunk Mix_Chunk;
typedef struct SDL_RWops SDL_RWops;
static Mix_Chunk *chunks[4];
static int n_chunks;

static struct swapwatch *watch;
static void (*real_swap)(SDL_Window *);
static uint32_t speed = 1;
static uint64_t start_ns;

static uint64_t monotonic_ns(void)
{
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint64_t)now.tv_sec * 1000000000u + (uint64_t)now.tv_nsec;
}

__attribute__((constructor)) static void swapwatch_open(void)
{
  const char *factor = getenv("SWAPWATCH_SPEED");
  if (factor && atoi(factor) > 1) {
    speed = (uint32_t)atoi(factor);
    start_ns = monotonic_ns();
  }
  const char *path = getenv("SWAPWATCH_FILE");
  if (!path)
    return;
  int fd = open(path, O_RDWR);
  if (fd < 0)
    return;
  void *map = mmap(NULL, sizeof *watch, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (map != MAP_FAILED)
    watch = map;
}

void SDL_GL_SwapWindow(SDL_Window *window)
{
  if (!real_swap)
    real_swap = (void (*)(SDL_Window *))dlsym(RTLD_NEXT, "SDL_GL_SwapWindow");
  real_swap(window);
  if (!watch)
    return;
  if (!watch->swaps) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    watch->first_swap_ns = (uint64_t)now.tv_sec * 1000000000u + (uint64_t)now.tv_nsec;
  }
  __atomic_add_fetch(&watch->swaps, 1, __ATOMIC_RELAXED);
}

/* Milliseconds since the probe was loaded, sped up; without a speed-up this
 * is SDL's own count, untouched. */
uint64_t SDL_GetTicks64(void)
{
  static uint64_t (*real)(void);
  if (speed == 1) {
    if (!real)
      real = (uint64_t(*)(void))dlsym(RTLD_NEXT, "SDL_GetTicks64");
    return real();
  }
  return (monotonic_ns() - start_ns) / 1000000u * speed;
}

uint32_t SDL_GetTicks(void)
{
  return (uint32_t)SDL_GetTicks64();
}

/* The game loads its four effects at start-up in a fixed order; counting
 * how often each is started tells a check how often the adult was caught
 * (the last of them) without looking at the screen. */
Mix_Chunk *Mix_LoadWAV_RW(SDL_RWops *src, int freesrc)
{
  static Mix_Chunk *(*real)(SDL_RWops *, int);
  if (!real)
    real = (Mix_Chunk * (*)(SDL_RWops *, int)) dlsym(RTLD_NEXT, "Mix_LoadWAV_RW");
  Mix_Chunk *chunk = real(src, freesrc);
  if (n_chunks < 4)
    chunks[n_chunks++] = chunk;
  return chunk;
}

int Mix_PlayChannelTimed(int channel, Mix_Chunk *chunk, int loops, int ticks)
{
  static int (*real)(int, Mix_Chunk *, int, int);
  if (!real)
    real = (int (*)(int, Mix_Chunk *, int, int))dlsym(RTLD_NEXT, "Mix_PlayChannelTimed");
  for (int i = 0; watch && chunk && i < n_chunks; i++)
    if (chunks[i] == chunk)
      __atomic_add_fetch(&watch->plays[i], 1, __ATOMIC_RELAXED);
  return real(channel, chunk, loops, ticks);
}

typedef void (*tex_image_2d_fn)(unsigned, int, int, int, int, int, unsigned, unsigned,
                                const void *);
static tex_image_2d_fn real_tex_image_2d;

static void counting_tex_image_2d(unsigned target, int level, int internal, int width, int height,
                                  int border, unsigned format, unsigned type, const void *pixels)
{
  if (watch && pixels && width > 0 && height > 0) {
    __atomic_add_fetch(&watch->textures, 1, __ATOMIC_RELAXED);
    __atomic_add_fetch(&watch->texture_bytes, (uint64_t)width * (uint64_t)height * 4u,
                       __ATOMIC_RELAXED);
  }
  real_tex_image_2d(target, level, internal, width, height, border, format, type, pixels);
}

void *SDL_GL_GetProcAddress(const char *proc)
{
  static void *(*real)(const char *);
  if (!real)
    real = (void *(*)(const char *))dlsym(RTLD_NEXT, "SDL_GL_GetProcAddress");
  void *found = real(proc);
  if (found && !strcmp(proc, "glTexImage2D")) {
    real_tex_image_2d = (tex_image_2d_fn)found;
    return (void *)counting_tex_image_2d;
  }
  return found;
}
