/* swapwatch: an LD_PRELOAD probe for whole-program measurements.
 *
 * It wraps SDL_GL_SwapWindow and records, in a small file that the measuring
 * script maps as well, the wall-clock time of the first presented frame and
 * the number of frames presented so far. Counting through shared memory costs
 * the measured program one increment per frame and no system call, so it does
 * not disturb what it measures. The file is named by SWAPWATCH_FILE; without
 * it the probe only forwards the call.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

typedef struct SDL_Window SDL_Window;

struct swapwatch {
  uint64_t first_swap_ns; /* CLOCK_REALTIME of the first presented frame */
  uint64_t swaps;         /* frames presented */
};

static struct swapwatch *watch;
static void (*real_swap)(SDL_Window *);

__attribute__((constructor)) static void swapwatch_open(void)
{
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
