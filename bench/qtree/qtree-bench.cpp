// The quadtree on the game's workload, against the strongest brute force and
// against Boost.Geometry's R-trees, all in one process.
//
// Workload: N boxes of half-size 0.05 whose centres stay within -0.95..0.95,
// so every box lies inside the game's root box (-1, -1)..(1, 1). Each step
// moves one box by a small random step (the boxes take turns, as the game
// moves its viruses one after the other) and counts the boxes overlapping it,
// itself included. The quadtree has the game's limits (4, 4, 1) and null root
// box.
//
//   quadtree         qtree_object_move, then qtree_search_by_aabb with no
//                    callback (the search returns the count)
//   brute force      the box stored into a flat array of boxes, then a
//                    branch-free closed-edge overlap test summed over the array
//   rtree quadratic  Boost rtree<quadratic<16>>: remove, insert, query
//   rtree R*         the same with rstar<16>
//
// Checks: a warm-up runs the four in lockstep and compares every count with
// brute force's. Then each index plays the same moves from its own copy of
// the world; repetitions are interleaved between the indexes, each timed in
// CPU time, and the counts summed over a repetition must agree. Any mismatch
// ends the program with status 1 before a figure is printed.
#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <boost/iterator/function_output_iterator.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench-cpu.hpp"
#include "qtree/qtree.hpp"

namespace {

constexpr float HALF = 0.05f;  // half-size of every box
constexpr float STEP = 0.01f;  // largest move per axis and step
constexpr float LIMIT = 1.0f - HALF;
constexpr int SIZES[] = {20, 200, 2000, 20000};
constexpr int INDEXES = 4;
const char *const NAMES[INDEXES] = {"quadtree", "brute force", "rtree quadratic", "rtree R*"};

// ---------------------------------------------------------------------------
// The world: box centres and the random moves, the same for every index.
// ---------------------------------------------------------------------------

struct world_t {
  std::vector<v2f_t> centres;
  uint32_t rng;   // xorshift32 state
  uint32_t next;  // the box that moves next
};

float next_unit(world_t *w) {  // in [-1, 1)
  w->rng ^= w->rng << 13;
  w->rng ^= w->rng >> 17;
  w->rng ^= w->rng << 5;
  return float(w->rng >> 8) * (2.0f / 16777216.0f) - 1.0f;
}

// Reflect at the walls so that the box stays inside the root box.
float keep_inside(float c) {
  if (c > LIMIT)
    return 2 * LIMIT - c;
  if (c < -LIMIT)
    return -2 * LIMIT - c;
  return c;
}

aabb_t box_at(v2f_t c) { return {{c.x - HALF, c.y - HALF}, {c.x + HALF, c.y + HALF}}; }

world_t world_new(int n) {
  world_t w{std::vector<v2f_t>(size_t(n)), 12345, 0};
  for (v2f_t &c : w.centres)
    c = {next_unit(&w) * LIMIT, next_unit(&w) * LIMIT};
  return w;
}

// Move the next box; its number goes to *i, its new box is returned.
aabb_t world_move(world_t *w, uint32_t *i) {
  *i = w->next;
  if (++w->next == w->centres.size())
    w->next = 0;
  v2f_t &c = w->centres[*i];
  c.x = keep_inside(c.x + next_unit(w) * STEP);
  c.y = keep_inside(c.y + next_unit(w) * STEP);
  return box_at(c);
}

// ---------------------------------------------------------------------------
// The indexes: each is set up from the world and takes steps (box i moves to
// b, the number of boxes overlapping b comes back).
// ---------------------------------------------------------------------------

struct quadtree_index_t {
  qtree_t *tree;
  std::vector<qtree_object_t *> objects;
};

void index_init(quadtree_index_t *x, const world_t &w) {
  x->tree = qtree_new(nullptr, 4, 4, 1);
  for (v2f_t c : w.centres) {
    const aabb_t b = box_at(c);
    x->objects.push_back(qtree_object_new(x->tree, nullptr, nullptr, &b, nullptr));
  }
}

uint32_t index_step(quadtree_index_t *x, uint32_t i, const aabb_t &b) {
  qtree_object_move(x->tree, x->objects[i], nullptr, nullptr, &b);
  return qtree_search_by_aabb(x->tree, nullptr, nullptr, &b, nullptr, nullptr);
}

struct brute_t {
  std::vector<aabb_t> boxes;
};

void index_init(brute_t *x, const world_t &w) {
  for (v2f_t c : w.centres)
    x->boxes.push_back(box_at(c));
}

uint32_t index_step(brute_t *x, uint32_t i, const aabb_t &b) {
  x->boxes[i] = b;
  uint32_t count = 0;
  for (const aabb_t &o : x->boxes)
    count += (o.max.x >= b.min.x) & (b.max.x >= o.min.x) & (o.max.y >= b.min.y) &
             (b.max.y >= o.min.y);
  return count;
}

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;
using bpoint_t = bg::model::point<float, 2, bg::cs::cartesian>;
using bbox_t = bg::model::box<bpoint_t>;
using bvalue_t = std::pair<bbox_t, uint32_t>;

bbox_t bbox_of(const aabb_t &b) {
  return bbox_t(bpoint_t(b.min.x, b.min.y), bpoint_t(b.max.x, b.max.y));
}

template <typename params_t>
struct rtree_index_t {
  bgi::rtree<bvalue_t, params_t> tree;
  std::vector<bbox_t> boxes;  // what to remove when a box moves
};

template <typename params_t>
void index_init(rtree_index_t<params_t> *x, const world_t &w) {
  for (v2f_t c : w.centres) {
    x->boxes.push_back(bbox_of(box_at(c)));
    x->tree.insert({x->boxes.back(), uint32_t(x->boxes.size() - 1)});
  }
}

template <typename params_t>
uint32_t index_step(rtree_index_t<params_t> *x, uint32_t i, const aabb_t &b) {
  x->tree.remove(bvalue_t{x->boxes[i], i});
  x->boxes[i] = bbox_of(b);
  x->tree.insert({x->boxes[i], i});
  // query returns how many values it found; the output iterator discards them.
  return uint32_t(x->tree.query(bgi::intersects(x->boxes[i]),
                                boost::make_function_output_iterator([](const bvalue_t &) {})));
}

// ---------------------------------------------------------------------------
// Checking and timing
// ---------------------------------------------------------------------------

[[noreturn]] void mismatch(int n, const char *what, const char *index) {
  fprintf(stderr, "N = %d: %s of %s differs from brute force\n", n, what, index);
  exit(1);
}

// CPU seconds per step over 'steps' steps; the counts' sum goes to *total.
template <typename index_t>
double time_steps(index_t *x, world_t *w, uint32_t steps, uint64_t *total) {
  uint64_t sum = 0;
  const double start = bench_cpu_now();
  for (uint32_t s = 0; s < steps; s++) {
    uint32_t i;
    const aabb_t b = world_move(w, &i);
    sum += index_step(x, i, b);
  }
  const double seconds = bench_cpu_now() - start;
  *total = sum;
  return seconds / steps;
}

struct result_t {
  double median[INDEXES];  // seconds per step
  double cv[INDEXES];
};

result_t measure(int n, int reps) {
  world_t w = world_new(n);
  quadtree_index_t qt{};
  brute_t brute{};
  rtree_index_t<bgi::quadratic<16>> rq;
  rtree_index_t<bgi::rstar<16>> rs;
  index_init(&qt, w);
  index_init(&brute, w);
  index_init(&rq, w);
  index_init(&rs, w);

  // Every box moves at least ten times before anything is timed: long enough
  // for the quadtree's arenas to reach their steady mix of old and new chunks.
  const uint32_t warmup = 10 * uint32_t(n) + 20000;
  for (uint32_t s = 0; s < warmup; s++) {
    uint32_t i;
    const aabb_t b = world_move(&w, &i);
    const uint32_t want = index_step(&brute, i, b);
    if (index_step(&qt, i, b) != want)
      mismatch(n, "a warm-up count", NAMES[0]);
    if (index_step(&rq, i, b) != want)
      mismatch(n, "a warm-up count", NAMES[2]);
    if (index_step(&rs, i, b) != want)
      mismatch(n, "a warm-up count", NAMES[3]);
  }

  // About the same work per repetition whatever N (brute force grows as N).
  const uint32_t steps = uint32_t(4e6 / std::sqrt(double(n)));
  world_t worlds[INDEXES] = {w, w, w, w};
  std::vector<double> times[INDEXES];
  for (int r = 0; r < reps; r++) {
    uint64_t totals[INDEXES];
    times[0].push_back(time_steps(&qt, &worlds[0], steps, &totals[0]));
    times[1].push_back(time_steps(&brute, &worlds[1], steps, &totals[1]));
    times[2].push_back(time_steps(&rq, &worlds[2], steps, &totals[2]));
    times[3].push_back(time_steps(&rs, &worlds[3], steps, &totals[3]));
    for (int k = 0; k < INDEXES; k++)
      if (totals[k] != totals[1])
        mismatch(n, "the counts of a repetition", NAMES[k]);
  }
  qtree_free(qt.tree);

  result_t res;
  for (int k = 0; k < INDEXES; k++) {
    res.median[k] = bench_median(times[k]);
    res.cv[k] = bench_cv(times[k]);
  }
  return res;
}

}  // namespace

// Optional argument: the number of repetitions (default 7, at least 5).
int main(int argc, char **argv) {
  const int reps = argc > 1 ? std::max(5, atoi(argv[1])) : 7;
  printf("Quadtree (limits 4, 4, 1; root box (-1, -1)..(1, 1)) against brute force and Boost "
         "rtrees\nN boxes of half-size 0.05; a step moves one box and counts the boxes "
         "overlapping it\n\nCPU time per step: median of %d repetitions (coefficient of "
         "variation)\n%6s",
         reps, "N");
  for (const char *name : NAMES)
    printf("  %20s", name);
  printf("\n");

  result_t results[std::size(SIZES)];
  for (size_t s = 0; s < std::size(SIZES); s++) {
    results[s] = measure(SIZES[s], reps);
    printf("%6d", SIZES[s]);
    for (int k = 0; k < INDEXES; k++)
      printf("  %10.0f ns (%4.1f%%)", results[s].median[k] * 1e9, results[s].cv[k] * 100);
    printf("\n");
    fflush(stdout);
  }

  printf("\nRatios: anchor time / quadtree time (medians of this run); above 1 the quadtree "
         "is faster\n%6s", "N");
  for (int k = 1; k < INDEXES; k++)
    printf("  %15s", NAMES[k]);
  printf("  goal\n");
  const char *const goals[] = {"brute >= 0.5x", "all >= 1.5x", "brute >= 5x, rtrees >= 1x", ""};
  for (size_t s = 0; s < std::size(SIZES); s++) {
    printf("%6d", SIZES[s]);
    for (int k = 1; k < INDEXES; k++)
      printf("  %14.2fx", results[s].median[k] / results[s].median[0]);
    printf("  %s\n", goals[s]);
  }
  return 0;
}
