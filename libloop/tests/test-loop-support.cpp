#include "test-loop-support.hpp"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

void support_sdl_drivers(void)
{
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
}

std::string support_temp_dir(void)
{
  const char *base = getenv("TMPDIR");
  std::string path = std::string(base && *base ? base : "/tmp") + "/loop-test-XXXXXX";
  if (!mkdtemp(path.data()))
    abort();
  return path;
}

std::string support_capture_stderr(void (*fn)(void *), void *arg)
{
  FILE *file = tmpfile();
  fflush(stderr);
  const int saved = dup(2);
  dup2(fileno(file), 2);
  fn(arg);
  fflush(stderr);
  dup2(saved, 2);
  close(saved);

  std::string text;
  rewind(file);
  for (int c; (c = fgetc(file)) != EOF;)
    text += static_cast<char>(c);
  fclose(file);
  return text;
}
