// The game's per-step cost: one virus step plus one player step (with a key
// held, so the adult searches too), on the starting playfield and with 100
// and 1,000 infected babies added. The starting playfield is the anchor: the
// other two are reported as ratios to it, measured in the same run.
#include "app.hpp"
#include "game.hpp"

#include <benchmark/benchmark.h>

#include <SDL.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Left and Right together: a zero move that still runs the adult's search.
uint8_t keys[SDL_NUM_SCANCODES];

const uint8_t *bench_keyboard(void)
{
  return keys;
}

loop_t *loop;
game_t *game;

void start(void)
{
  if (game)
    return;
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  char tmpl[] = "/tmp/orb-bench-XXXXXX";
  const char *dir = mkdtemp(tmpl);
  if (!dir || chdir(dir) != 0 || symlink(ORB_ASSETS_DIR, "assets") != 0) {
    perror("bench working directory");
    exit(1);
  }
  static char arg0[] = "orb", arg1[] = "--window";
  static char *argv[] = {arg0, arg1, nullptr};
  loop = loop_startup(2, argv, app_contexts);
  loop_context_enter(loop, APP_GAME);
  game = static_cast<game_t *>(loop_context(loop, APP_GAME));
  game_keyboard = bench_keyboard;
  keys[SDL_SCANCODE_LEFT] = 1;
  keys[SDL_SCANCODE_RIGHT] = 1;
}

// A fresh playfield with n infected babies scattered over the field, none
// within reach of the adult standing in the middle, so that the steps measure
// searches rather than the end of the game.
void playfield(int n)
{
  game_reset(game);
  for (int i = 0; i < n; i++) {
    entity_t *baby = baby_new(game, game->babies);
    while (fabsf(baby->x) < 0.4f && fabsf(baby->y) < 0.4f)
      random_position(&baby->x, &baby->y);
    entity_update(game->qtree, baby);
    baby->kind = ENTITY_VIRUS;
  }
}

void BM_game_step(benchmark::State &state)
{
  start();
  const int infected = (int)state.range(0);
  // A seen virus pass lasts about 240 steps; rebuilding the playfield after
  // each keeps the number of entities where it was set, since every
  // infection adds a baby.
  const int rebuild_every = 240;
  playfield(infected);
  int steps = 0;
  for (auto _ : state) {
    update_viruses(loop, game);
    game_player_step(game);
    if (++steps == rebuild_every) {
      state.PauseTiming();
      playfield(infected);
      steps = 0;
      state.ResumeTiming();
    }
  }
  state.counters["entities"] = 20 + infected;
}

}  // namespace

BENCHMARK(BM_game_step)->Arg(0)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;

  // Keep the per-run figures for the ratios printed below.
  struct collect : benchmark::ConsoleReporter {
    std::vector<Run> runs;
    void ReportRuns(const std::vector<Run> &report) override
    {
      ConsoleReporter::ReportRuns(report);
      for (const Run &run : report)
        if (run.run_type == Run::RT_Iteration)
          runs.push_back(run);
    }
  } reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  if (reporter.runs.size() >= 3) {
    double base = reporter.runs[0].GetAdjustedRealTime();
    printf("\nper step: start %.2f us (goal < 167 us)", base);
    for (size_t i = 1; i < reporter.runs.size(); i++) {
      double t = reporter.runs[i].GetAdjustedRealTime();
      printf("; %s %.2f us = %.2fx start", reporter.runs[i].benchmark_name().c_str(), t, t / base);
    }
    double r100 = reporter.runs[1].GetAdjustedRealTime() / base;
    double r1000 = reporter.runs[2].GetAdjustedRealTime() / base;
    // Entities grow 20 -> 120 -> 1020: linear growth would be 6x and 51x.
    printf(
        "\ngrowth: 100 -> 1000 infected is %.2fx for %.1fx the entities (linear would be %.1fx)\n",
        r1000 / r100, 1020.0 / 120.0, 1020.0 / 120.0);
  }
  benchmark::Shutdown();
  return 0;
}
