// The arena against the system allocator, in the two patterns its users have:
// a block taken and given back at once (pairs), and 10,000 blocks taken and
// then given back in the order they were taken (batches). Block sizes are the
// quadtree's ref (48 bytes, from a 3072-byte chunk request, as the quadtree
// makes its ref arena) and the game's entity (144 bytes, 4608, as the game
// makes its arena). Each block's first word is written, as a caller
// initialises a record.
//
// The arena runs with and without zero fill; the anchors are malloc + free
// and calloc + free (the system's zero fill). After one round of warm-up,
// the repetitions are interleaved between the cases, each is timed in CPU
// time, and the tables give the median per block and the ratios of medians.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "arena/arena.hpp"
#include "bench-cpu.hpp"

namespace {

constexpr int BATCH = 10000;
constexpr int BLOCKS = 2000000;  // blocks per repetition in either pattern
constexpr int CASES = 4;
const char *const NAMES[CASES] = {"arena zero-fill", "arena no fill", "malloc + free",
                                  "calloc + free"};

struct shape_t {
  uint32_t block;
  uint32_t chunk;  // the size its user asks arena_new for
};
const shape_t SIZES[] = {{48, 3072}, {144, 4608}};

inline void touch(void *p)
{
  *static_cast<volatile uint64_t *>(p) = 1;
}

[[noreturn]] void out_of_memory()
{
  fprintf(stderr, "out of memory\n");
  exit(1);
}

// CPU seconds per block for BLOCKS blocks, each given back at once.
template <typename get_t, typename put_t> double time_pairs(uint32_t size, get_t get, put_t put)
{
  const double start = bench_cpu_now();
  for (int i = 0; i < BLOCKS; i++) {
    void *p = get(size);
    if (!p)
      out_of_memory();
    touch(p);
    put(p);
  }
  return (bench_cpu_now() - start) / BLOCKS;
}

// CPU seconds per block for BLOCKS blocks, BATCH taken and then given back.
template <typename get_t, typename put_t> double time_batches(uint32_t size, get_t get, put_t put)
{
  static void *blocks[BATCH];
  const double start = bench_cpu_now();
  for (int b = 0; b < BLOCKS / BATCH; b++) {
    for (void *&p : blocks) {
      p = get(size);
      if (!p)
        out_of_memory();
      touch(p);
    }
    for (void *p : blocks)
      put(p);
  }
  return (bench_cpu_now() - start) / BLOCKS;
}

struct result_t {
  double median[CASES];  // seconds per block
  double cv[CASES];
};

template <typename timer_t> result_t measure(shape_t s, int reps, timer_t timer)
{
  arena_t *zero = arena_new(s.chunk, ARENA_ZERO_FILL);
  arena_t *plain = arena_new(s.chunk, 0);
  if (!zero || !plain)
    out_of_memory();
  auto get_zero = [zero](uint32_t size) { return arena_get(zero, size); };
  auto get_plain = [plain](uint32_t size) { return arena_get(plain, size); };
  auto get_malloc = [](uint32_t size) { return malloc(size); };
  auto get_calloc = [](uint32_t size) { return calloc(1, size); };
  auto put_arena = [](void *p) { arena_put(p); };
  auto put_free = [](void *p) { free(p); };

  std::vector<double> times[CASES];
  for (int r = 0; r <= reps; r++) {
    const double t[CASES] = {
        timer(s.block, get_zero, put_arena), timer(s.block, get_plain, put_arena),
        timer(s.block, get_malloc, put_free), timer(s.block, get_calloc, put_free)};
    if (r == 0)
      continue;  // the first round only warms up the chunks and the heap
    for (int k = 0; k < CASES; k++)
      times[k].push_back(t[k]);
  }
  arena_free(zero);
  arena_free(plain);

  result_t res;
  for (int k = 0; k < CASES; k++) {
    res.median[k] = bench_median(times[k]);
    res.cv[k] = bench_cv(times[k]);
  }
  return res;
}

}  // namespace

// Optional argument: the number of repetitions (default 7, at least 5).
int main(int argc, char **argv)
{
  const int reps = argc > 1 ? std::max(5, atoi(argv[1])) : 7;
  printf("Arena against malloc and calloc: CPU time per block (get + put), median of %d "
         "repetitions (coefficient of variation)\n%-16s",
         reps, "");
  for (const char *name : NAMES)
    printf("  %18s", name);
  printf("\n");

  struct row_t {
    char what[32];
    result_t r;
  };
  std::vector<row_t> rows;
  for (const shape_t &s : SIZES) {
    row_t pairs{}, batches{};
    snprintf(pairs.what, sizeof pairs.what, "%u B, pairs", s.block);
    pairs.r = measure(s, reps,
                      [](uint32_t size, auto get, auto put) { return time_pairs(size, get, put); });
    snprintf(batches.what, sizeof batches.what, "%u B, %d", s.block, BATCH);
    batches.r = measure(
        s, reps, [](uint32_t size, auto get, auto put) { return time_batches(size, get, put); });
    for (const row_t &row : {pairs, batches}) {
      printf("%-16s", row.what);
      for (int k = 0; k < CASES; k++)
        printf("  %7.2f ns (%4.1f%%)", row.r.median[k] * 1e9, row.r.cv[k] * 100);
      printf("\n");
      rows.push_back(row);
    }
  }

  printf("\nRatios: anchor time / arena time (medians of this run); above 1 the arena is "
         "faster\n%-16s  %22s  %22s  %22s\n",
         "", "zero-fill vs malloc", "zero-fill vs calloc", "no fill vs malloc");
  for (const row_t &row : rows)
    printf("%-16s  %21.2fx  %21.2fx  %21.2fx\n", row.what, row.r.median[2] / row.r.median[0],
           row.r.median[3] / row.r.median[0], row.r.median[2] / row.r.median[1]);
  printf("goal: zero-fill pairs >= 3x malloc + free\n");
  return 0;
}
