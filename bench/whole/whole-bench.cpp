// whole-bench: the CPU cost of the game's own work in one frame of play -- the
// state machine's update with both 20 ms steps (viruses and player), plus
// the scene walk that issues the frame's draw calls -- without the GL driver.
//
// The real application is started in-process on SDL's offscreen driver, as
// the program starts (every context's init, then the logo handing over to
// the game), so shaders and textures are real. Then every GL entry point
// that the drawing modules call is pointed at a function that does nothing,
// and what is left to time is the game's code: rules, quadtree searches,
// matrices, the tree walks and the calls into the (now empty) GL layer.
// The clock advances 20 ms a frame, so each frame runs both steps, as at
// 50 Hz; a held key pattern keeps the adult moving. A lost game is rebuilt
// outside the timed region, so every timed frame is a frame of play.
//
// Reported: time per frame, and its share of a 60 Hz frame (16.7 ms) as the
// counter frame_share_pct (goal: under 1 %).
#include <benchmark/benchmark.h>
#include <glad/gl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "app.hpp"
#include "fever.hpp"
#include "game.hpp"
#include "loop/loop.hpp"
#include "tableau/tableau.hpp"

namespace {

uint32_t bench_now = 1000;
uint8_t bench_keys[SDL_NUM_SCANCODES];

uint32_t bench_clock(void)
{
  return bench_now;
}
const uint8_t *bench_keyboard(void)
{
  return bench_keys;
}

// Stands in for every GL call of a frame. The drawing modules ignore what
// these return on a frame (nothing per frame asks GL a question), so one
// function with no parameters serves every signature on this ABI.
void gl_nothing(void) {}

#define GL_NOTHING(name) glad_##name = reinterpret_cast<decltype(glad_##name)>(gl_nothing)

void gl_off(void)
{
  GL_NOTHING(glBindBuffer);
  GL_NOTHING(glBindTexture);
  GL_NOTHING(glBlendFunc);
  GL_NOTHING(glClear);
  GL_NOTHING(glDrawArrays);
  GL_NOTHING(glEnable);
  GL_NOTHING(glEnableVertexAttribArray);
  GL_NOTHING(glUniform1f);
  GL_NOTHING(glUniformMatrix4fv);
  GL_NOTHING(glUseProgram);
  GL_NOTHING(glVertexAttribPointer);
  GL_NOTHING(glViewport);
  GL_NOTHING(glDeleteTextures);
  GL_NOTHING(glDeleteProgram);
}

struct bench_app_t {
  loop_t *loop;
  game_t *game;
  fever_t *fever;
};

bench_app_t *start_app(void)
{
  static bench_app_t app;
  if (app.loop)
    return &app;
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  // The music and effects are read relative to the working directory.
  char tmpl[] = "/tmp/orb-frame-XXXXXX";
  const char *dir = mkdtemp(tmpl);
  if (!dir || chdir(dir) || symlink(ORB_ASSETS_DIR, "assets")) {
    fprintf(stderr, "cannot prepare a working directory with the assets\n");
    exit(1);
  }
  loop_clock = bench_clock;
  game_keyboard = bench_keyboard;
  static char arg0[] = "orb", arg1[] = "--window", arg2[] = "800x600";
  static char *argv[] = {arg0, arg1, arg2, nullptr};
  app.loop = loop_startup(3, argv, app_contexts);
  // The logo's hand-over, as when its fade-out ends.
  loop_context_enter(app.loop, APP_LOGO);
  loop_context_enter(app.loop, APP_GAME);
  app.fever = static_cast<fever_t *>(loop_context(app.loop, APP_SHELL));
  app.game = static_cast<game_t *>(loop_context(app.loop, APP_GAME));
  // One real frame first, so every texture and program the game uses exists.
  game_update(app.loop, app.game);
  tableau_render(app.fever->root, app.loop);
  gl_off();
  return &app;
}

// Held keys change every 40 frames through eight patterns (one direction,
// diagonals, nothing), so the adult wanders, picks up and carries babies.
void set_keys(uint64_t frame)
{
  static const SDL_Scancode PATTERNS[8][2] = {
      {SDL_SCANCODE_RIGHT, SDL_SCANCODE_UNKNOWN},   {SDL_SCANCODE_UP, SDL_SCANCODE_LEFT},
      {SDL_SCANCODE_LEFT, SDL_SCANCODE_UNKNOWN},    {SDL_SCANCODE_DOWN, SDL_SCANCODE_RIGHT},
      {SDL_SCANCODE_UNKNOWN, SDL_SCANCODE_UNKNOWN}, {SDL_SCANCODE_UP, SDL_SCANCODE_UNKNOWN},
      {SDL_SCANCODE_DOWN, SDL_SCANCODE_LEFT},       {SDL_SCANCODE_RIGHT, SDL_SCANCODE_UP}};
  const SDL_Scancode *p = PATTERNS[(frame / 40) % 8];
  bench_keys[SDL_SCANCODE_RIGHT] = bench_keys[SDL_SCANCODE_LEFT] = 0;
  bench_keys[SDL_SCANCODE_UP] = bench_keys[SDL_SCANCODE_DOWN] = 0;
  for (int i = 0; i < 2; i++)
    if (p[i] != SDL_SCANCODE_UNKNOWN)
      bench_keys[p[i]] = 1;
}

void BM_game_frame(benchmark::State &state)
{
  bench_app_t *app = start_app();
  uint64_t frame = 0, restarts = 0;
  for (auto _ : state) {
    if (app->game->state != GAME_PLAYING) {
      state.PauseTiming();
      game_reset(app->game);
      restarts++;
      state.ResumeTiming();
    }
    set_keys(frame++);
    bench_now += GAME_STEP_MS;
    game_update(app->loop, app->game);
    benchmark::DoNotOptimize(tableau_render(app->fever->root, app->loop));
  }
  state.counters["restarts"] = double(restarts);
  // An inverted rate is elapsed seconds / value: with value = frames / 6000
  // that is the seconds per frame times 60 Hz times 100, the share in percent.
  state.counters["frame_share_pct"] =
      benchmark::Counter(double(state.iterations()) / 6000.0,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_game_frame)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
