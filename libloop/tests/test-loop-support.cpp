#include "test-loop-support.hpp"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> temp_dirs;

// Death-test children leave through exit() too, so they clean up here as
// well; the directories hold plain files only.
void remove_temp_dirs(void)
{
  for (const std::string &path : temp_dirs) {
    if (DIR *dir = opendir(path.c_str())) {
      while (const dirent *entry = readdir(dir))
        if (entry->d_name[0] != '.')
          unlink((path + "/" + entry->d_name).c_str());
      closedir(dir);
    }
    rmdir(path.c_str());
  }
}

}  // namespace

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
  if (temp_dirs.empty())
    atexit(remove_temp_dirs);
  temp_dirs.push_back(path);
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
