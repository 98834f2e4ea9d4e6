// orb-synth: renders one score into one sound file, at build time.
//
//   orb-synth <score> <output.ogg|output.wav>
//
// The output's extension picks the format. Any problem is fatal with a
// message that names the score's line, so a broken score fails the build.
#include "encode.hpp"
#include "render.hpp"
#include "score.hpp"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
  if (argc != 3) {
    fprintf(stderr, "usage: %s <score> <output.ogg|output.wav>\n", argv[0]);
    return 2;
  }
  const char *out = argv[2];
  size_t len = strlen(out);
  bool ogg = len > 4 && strcmp(out + len - 4, ".ogg") == 0;
  bool wav = len > 4 && strcmp(out + len - 4, ".wav") == 0;
  if (!ogg && !wav)
    synth_fatal("%s: the output must end in .ogg or .wav\n", out);

  synth_score_t score;
  synth_score_read(argv[1], &score);
  std::vector<float> pcm;
  synth_render(&score, &pcm);

  if (ogg) {
    std::string title = out;
    size_t slash = title.find_last_of('/');
    if (slash != std::string::npos)
      title.erase(0, slash + 1);
    title.erase(title.size() - 4);
    synth_write_ogg(out, pcm, title.c_str());
  } else {
    synth_write_wav(out, pcm);
  }
  return 0;
}
