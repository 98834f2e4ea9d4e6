// Arena against the system allocator and a standard pool: 144-byte blocks
// (the game's entity size) taken and given back in batches, and dropping
// 10,000 live blocks at once against one by one.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory_resource>
#include <vector>

#include "arena/arena.hpp"
#include "bench-ratio.hpp"

namespace {

constexpr uint32_t BLOCK = 144;
constexpr int BATCH = 64;        // blocks alive at once in the get/put loops
constexpr int RESET_BLOCKS = 10000;

// Each block is written once, as a caller would initialise it.
inline void touch(void *p) { *static_cast<volatile uint64_t *>(p) = 1; }

void BM_arena_get_put(benchmark::State &state) {
  arena_t *arena = arena_new(4608, uint32_t(state.range(0)));
  void *blocks[BATCH];
  for (auto _ : state) {
    for (void *&p : blocks) {
      p = arena_get(arena, BLOCK);
      touch(p);
    }
    for (void *p : blocks)
      arena_put(p);
  }
  state.SetItemsProcessed(state.iterations() * BATCH);
  arena_free(arena);
}
BENCHMARK(BM_arena_get_put)->Arg(1)->Arg(0);

void BM_malloc_free(benchmark::State &state) {
  void *blocks[BATCH];
  for (auto _ : state) {
    for (void *&p : blocks) {
      p = malloc(BLOCK);
      touch(p);
    }
    for (void *p : blocks)
      free(p);
  }
  state.SetItemsProcessed(state.iterations() * BATCH);
}
BENCHMARK(BM_malloc_free);

void BM_calloc_free(benchmark::State &state) {
  void *blocks[BATCH];
  for (auto _ : state) {
    for (void *&p : blocks) {
      p = calloc(1, BLOCK);
      touch(p);
    }
    for (void *p : blocks)
      free(p);
  }
  state.SetItemsProcessed(state.iterations() * BATCH);
}
BENCHMARK(BM_calloc_free);

void BM_pmr_pool(benchmark::State &state) {
  std::pmr::unsynchronized_pool_resource pool;
  void *blocks[BATCH];
  for (auto _ : state) {
    for (void *&p : blocks) {
      p = pool.allocate(BLOCK, 8);
      touch(p);
    }
    for (void *p : blocks)
      pool.deallocate(p, BLOCK, 8);
  }
  state.SetItemsProcessed(state.iterations() * BATCH);
}
BENCHMARK(BM_pmr_pool);

using bench_clock = std::chrono::steady_clock;

double seconds_since(bench_clock::time_point start) {
  return std::chrono::duration<double>(bench_clock::now() - start).count();
}

// Only the release is timed; filling the arena is set-up.
void BM_arena_reset(benchmark::State &state) {
  arena_t *arena = arena_new(4608, 1);
  for (auto _ : state) {
    for (int i = 0; i < RESET_BLOCKS; i++)
      touch(arena_get(arena, BLOCK));
    auto start = bench_clock::now();
    arena_reset(arena);
    state.SetIterationTime(seconds_since(start));
  }
  arena_free(arena);
}
BENCHMARK(BM_arena_reset)->UseManualTime();

void BM_arena_put_each(benchmark::State &state) {
  arena_t *arena = arena_new(4608, 1);
  std::vector<void *> blocks(RESET_BLOCKS);
  for (auto _ : state) {
    for (void *&p : blocks) {
      p = arena_get(arena, BLOCK);
      touch(p);
    }
    auto start = bench_clock::now();
    for (void *p : blocks)
      arena_put(p);
    state.SetIterationTime(seconds_since(start));
  }
  arena_free(arena);
}
BENCHMARK(BM_arena_put_each)->UseManualTime();

void BM_free_each(benchmark::State &state) {
  std::vector<void *> blocks(RESET_BLOCKS);
  for (auto _ : state) {
    for (void *&p : blocks) {
      p = malloc(BLOCK);
      touch(p);
    }
    auto start = bench_clock::now();
    for (void *p : blocks)
      free(p);
    state.SetIterationTime(seconds_since(start));
  }
}
BENCHMARK(BM_free_each)->UseManualTime();

}  // namespace

int main(int argc, char **argv) {
  bench_times_t t = bench_run(argc, argv);
  if (t.empty())
    return 1;
  const char *get_put = "BM_arena_get_put/1";
  const struct {
    const char *what;
    const char *anchor;
    const char *subject;
  } rows[] = {
      {"get+put 144 B, zero-fill vs malloc+free (goal >= 3)", "BM_malloc_free", get_put},
      {"get+put 144 B, zero-fill vs calloc+free", "BM_calloc_free", get_put},
      {"get+put 144 B, zero-fill vs pmr pool", "BM_pmr_pool", get_put},
      {"get+put 144 B, no fill vs malloc+free", "BM_malloc_free", "BM_arena_get_put/0"},
      {"reset 10,000 vs arena_put each", "BM_arena_put_each/manual_time",
       "BM_arena_reset/manual_time"},
      {"reset 10,000 vs free each", "BM_free_each/manual_time", "BM_arena_reset/manual_time"},
  };
  printf("\nRatios from this run: anchor time / arena time, wall clock; above 1 means the "
         "arena is faster\n");
  for (const auto &r : rows)
    printf("  %-52s %6.2fx\n", r.what, bench_ratio(t, r.anchor, r.subject));
  return 0;
}
