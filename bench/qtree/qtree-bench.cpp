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
//                    branch-free closed-edge overlap test summed over the array,
//                    which the compiler vectorises (four boxes per compare)
//   brute scalar     the same scan kept to one box per compare, as -O2 builds it
//   rtree quadratic  Boost rtree<quadratic<16>>: remove, insert, query
//   rtree R*         the same with rstar<16>
//
// Then, for the quadtree alone, where a step goes: a move alone and a search
// alone (the boxes of the next steps, the tree left as it is), the refs a
// search must test (those of every leaf its box meets) and the most refs in
// one of those leaves, and what one ref costs when a leaf's list is walked and
// nothing else is done. A leaf's
// refs are a chain of dependent loads, so no search can be quicker than its
// longest leaf walked at that cost; with the move alone, that is the floor a
// goal is held against.
//
// Checks: a warm-up runs the indexes in lockstep and compares every count with
// brute force's. Then each index plays the same moves from its own copy of
// the world; repetitions are interleaved between the indexes, each timed in
// CPU time, and the counts summed over a repetition must agree. Any mismatch
// ends the program with status 1 before the figures of that size are printed.
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
constexpr int INDEXES = 5;
const char *const NAMES[INDEXES] = {"quadtree", "brute force", "brute scalar", "rtree quadratic",
                                    "rtree R*"};
// What the quadtree must at least be against the vectorised brute force
// (anchor time / quadtree time), per size.
constexpr double GOALS[] = {0.5, 1.5, 5, 0};

// ---------------------------------------------------------------------------
// The world: box centres and the random moves, the same for every index.
// ---------------------------------------------------------------------------

struct world_t {
  std::vector<v2f_t> centres;
  uint32_t rng;   // xorshift32 state
  uint32_t next;  // the box that moves next
};

float next_unit(world_t *w)
{  // in [-1, 1)
  w->rng ^= w->rng << 13;
  w->rng ^= w->rng >> 17;
  w->rng ^= w->rng << 5;
  return float(w->rng >> 8) * (2.0f / 16777216.0f) - 1.0f;
}

// Reflect at the walls so that the box stays inside the root box.
float keep_inside(float c)
{
  if (c > LIMIT)
    return 2 * LIMIT - c;
  if (c < -LIMIT)
    return -2 * LIMIT - c;
  return c;
}

aabb_t box_at(v2f_t c)
{
  return {{c.x - HALF, c.y - HALF}, {c.x + HALF, c.y + HALF}};
}

world_t world_new(int n)
{
  world_t w{std::vector<v2f_t>(size_t(n)), 12345, 0};
  for (v2f_t &c : w.centres)
    c = {next_unit(&w) * LIMIT, next_unit(&w) * LIMIT};
  return w;
}

// Move the next box; its number goes to *i, its new box is returned.
aabb_t world_move(world_t *w, uint32_t *i)
{
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

void index_init(quadtree_index_t *x, const world_t &w)
{
  x->tree = qtree_new(nullptr, 4, 4, 1);
  for (v2f_t c : w.centres) {
    const aabb_t b = box_at(c);
    x->objects.push_back(qtree_object_new(x->tree, nullptr, nullptr, &b, nullptr));
  }
}

uint32_t index_step(quadtree_index_t *x, uint32_t i, const aabb_t &b)
{
  qtree_object_move(x->tree, x->objects[i], nullptr, nullptr, &b);
  return qtree_search_by_aabb(x->tree, nullptr, nullptr, &b, nullptr, nullptr);
}

struct brute_t {
  std::vector<aabb_t> boxes;
};

void index_init(brute_t *x, const world_t &w)
{
  for (v2f_t c : w.centres)
    x->boxes.push_back(box_at(c));
}

uint32_t index_step(brute_t *x, uint32_t i, const aabb_t &b)
{
  x->boxes[i] = b;
  uint32_t count = 0;
  for (const aabb_t &o : x->boxes)
    count +=
        (o.max.x >= b.min.x) & (b.max.x >= o.min.x) & (o.max.y >= b.min.y) & (b.max.y >= o.min.y);
  return count;
}

struct brute_scalar_t {
  brute_t boxes;
};

void index_init(brute_scalar_t *x, const world_t &w)
{
  index_init(&x->boxes, w);
}

__attribute__((optimize("no-tree-vectorize"))) uint32_t index_step(brute_scalar_t *x, uint32_t i,
                                                                   const aabb_t &b)
{
  x->boxes.boxes[i] = b;
  uint32_t count = 0;
  for (const aabb_t &o : x->boxes.boxes)
    count +=
        (o.max.x >= b.min.x) & (b.max.x >= o.min.x) & (o.max.y >= b.min.y) & (b.max.y >= o.min.y);
  return count;
}

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;
using bpoint_t = bg::model::point<float, 2, bg::cs::cartesian>;
using bbox_t = bg::model::box<bpoint_t>;
using bvalue_t = std::pair<bbox_t, uint32_t>;

bbox_t bbox_of(const aabb_t &b)
{
  return bbox_t(bpoint_t(b.min.x, b.min.y), bpoint_t(b.max.x, b.max.y));
}

template <typename params_t> struct rtree_index_t {
  bgi::rtree<bvalue_t, params_t> tree;
  std::vector<bbox_t> boxes;  // what to remove when a box moves
};

template <typename params_t> void index_init(rtree_index_t<params_t> *x, const world_t &w)
{
  for (v2f_t c : w.centres) {
    x->boxes.push_back(bbox_of(box_at(c)));
    x->tree.insert({x->boxes.back(), uint32_t(x->boxes.size() - 1)});
  }
}

template <typename params_t>
uint32_t index_step(rtree_index_t<params_t> *x, uint32_t i, const aabb_t &b)
{
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

[[noreturn]] void mismatch(int n, const char *what, const char *index)
{
  fprintf(stderr, "N = %d: %s of %s differs from brute force\n", n, what, index);
  exit(1);
}

// CPU seconds per step over 'steps' steps; the counts' sum goes to *total.
template <typename index_t>
double time_steps(index_t *x, world_t *w, uint32_t steps, uint64_t *total)
{
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

// ---------------------------------------------------------------------------
// The quadtree's step taken apart
// ---------------------------------------------------------------------------

// CPU seconds per move, moves only.
double time_moves(quadtree_index_t *x, world_t *w, uint32_t steps)
{
  const double start = bench_cpu_now();
  for (uint32_t s = 0; s < steps; s++) {
    uint32_t i;
    const aabb_t b = world_move(w, &i);
    qtree_object_move(x->tree, x->objects[i], nullptr, nullptr, &b);
  }
  return (bench_cpu_now() - start) / steps;
}

// CPU seconds per search, searches only: the boxes of the steps that would
// come next, searched where they would go while the tree stays as it is. (The
// same N boxes searched over and over would let the branch predictor learn
// each search's branches, which no real step allows.)
double time_searches(quadtree_index_t *x, world_t w, uint32_t steps)
{
  uint64_t sum = 0;
  const double start = bench_cpu_now();
  for (uint32_t s = 0; s < steps; s++) {
    uint32_t i;
    const aabb_t b = world_move(&w, &i);
    sum += qtree_search_by_aabb(x->tree, nullptr, nullptr, &b, nullptr, nullptr);
  }
  const double seconds = bench_cpu_now() - start;
  if (sum == 0)
    mismatch(int(w.centres.size()), "the searches alone", NAMES[0]);
  return seconds / steps;
}

// The leaves of the subtree whose boxes meet b (edges closed), in walk order.
void leaves_met(node_t *node, const aabb_t &box, const aabb_t &b, std::vector<node_t *> *out)
{
  if (!(box.max.x >= b.min.x && b.max.x >= box.min.x && box.max.y >= b.min.y &&
        b.max.y >= box.min.y))
    return;
  if (!node->children) {
    out->push_back(node);
    return;
  }
  const v2f_t c = node->center;
  const aabb_t quadrants[4] = {{{box.min.x, c.y}, {c.x, box.max.y}},
                               {c, box.max},
                               {box.min, c},
                               {{c.x, box.min.y}, {box.max.x, c.y}}};
  for (int k = 0; k < 4; k++)
    leaves_met(&node->children[k], quadrants[k], b, out);
}

// CPU seconds per ref to walk every leaf's list, one ref after the other
// and one leaf after the other, doing nothing else, until about 'refs' refs
// are walked. Each walk starts from where the last one ended (the zero added
// to the leaf's number is the top bit of the refs' addresses), so that the
// processor cannot walk two lists at once: this is what one ref costs in a
// chain of dependent loads over the tree's own refs.
double time_ref_walk(const std::vector<node_t *> &leaves, uint64_t refs)
{
  uint64_t walked = 0;
  uintptr_t seen = 0;  // user addresses are below 2^63
  const double start = bench_cpu_now();
  while (walked < refs)
    for (size_t k = 0; k < leaves.size(); k++) {
      node_t *leaf = leaves[k + (seen >> 63)];
      for (qtree_link_t *pos = leaf->refs.next; pos != &leaf->refs; pos = pos->next) {
        seen |= uintptr_t(pos);
        walked++;
      }
    }
  return (bench_cpu_now() - start) / double(walked);
}

struct parts_t {
  double move;     // seconds per move alone
  double search;   // seconds per search alone
  double refs;     // refs in the leaves a search meets, mean per search
  double longest;  // refs of the largest of those leaves, mean per search
  double per_ref;  // seconds per ref of a bare leaf walk
};

parts_t take_apart(quadtree_index_t *qt, world_t *w, uint32_t steps, int reps)
{
  std::vector<double> moves, searches, per_ref;
  std::vector<node_t *> all;
  leaves_met(&qt->tree->root, qt->tree->aabb, qt->tree->aabb, &all);
  for (int r = 0; r < reps; r++) {
    moves.push_back(time_moves(qt, w, steps));
    searches.push_back(time_searches(qt, *w, steps));
    per_ref.push_back(time_ref_walk(all, 4000000));
  }
  double refs = 0, longest = 0;
  std::vector<node_t *> met;
  for (v2f_t c : w->centres) {
    met.clear();
    leaves_met(&qt->tree->root, qt->tree->aabb, box_at(c), &met);
    uint32_t most = 0;
    for (node_t *leaf : met) {
      refs += leaf->n_objects;
      most = std::max(most, leaf->n_objects);
    }
    longest += most;
  }
  const double n = double(w->centres.size());
  return {bench_median(moves), bench_median(searches), refs / n, longest / n,
          bench_median(per_ref)};
}

struct result_t {
  double median[INDEXES];  // seconds per step
  double cv[INDEXES];
  parts_t parts;
};

// The five indexes over the same boxes.
struct indexes_t {
  quadtree_index_t qt{};
  brute_t brute{};
  brute_scalar_t scalar{};
  rtree_index_t<bgi::quadratic<16>> rq;
  rtree_index_t<bgi::rstar<16>> rs;
};

// Every box moves at least ten times before anything is timed: long enough
// for the quadtree's arenas to reach their steady mix of old and new chunks.
// Every count is checked against brute force on the way.
void warm_up(indexes_t *x, world_t *w, int n)
{
  const uint32_t warmup = 10 * uint32_t(n) + 20000;
  for (uint32_t s = 0; s < warmup; s++) {
    uint32_t i;
    const aabb_t b = world_move(w, &i);
    const uint32_t want = index_step(&x->brute, i, b);
    if (index_step(&x->qt, i, b) != want)
      mismatch(n, "a warm-up count", NAMES[0]);
    if (index_step(&x->scalar, i, b) != want)
      mismatch(n, "a warm-up count", NAMES[2]);
    if (index_step(&x->rq, i, b) != want)
      mismatch(n, "a warm-up count", NAMES[3]);
    if (index_step(&x->rs, i, b) != want)
      mismatch(n, "a warm-up count", NAMES[4]);
  }
}

// One repetition of each index in turn, each on its own copy of the world;
// their summed counts must agree.
void time_once(indexes_t *x, world_t worlds[INDEXES], uint32_t steps, int n,
               std::vector<double> times[INDEXES])
{
  uint64_t totals[INDEXES];
  times[0].push_back(time_steps(&x->qt, &worlds[0], steps, &totals[0]));
  times[1].push_back(time_steps(&x->brute, &worlds[1], steps, &totals[1]));
  times[2].push_back(time_steps(&x->scalar, &worlds[2], steps, &totals[2]));
  times[3].push_back(time_steps(&x->rq, &worlds[3], steps, &totals[3]));
  times[4].push_back(time_steps(&x->rs, &worlds[4], steps, &totals[4]));
  for (int k = 0; k < INDEXES; k++)
    if (totals[k] != totals[1])
      mismatch(n, "the counts of a repetition", NAMES[k]);
}

result_t measure(int n, int reps)
{
  world_t w = world_new(n);
  indexes_t x;
  index_init(&x.qt, w);
  index_init(&x.brute, w);
  index_init(&x.scalar, w);
  index_init(&x.rq, w);
  index_init(&x.rs, w);
  warm_up(&x, &w, n);

  // About the same work per repetition whatever N (brute force grows as N).
  const uint32_t steps = uint32_t(4e6 / std::sqrt(double(n)));
  world_t worlds[INDEXES] = {w, w, w, w, w};
  std::vector<double> times[INDEXES];
  for (int r = 0; r < reps; r++)
    time_once(&x, worlds, steps, n, times);

  result_t res;
  for (int k = 0; k < INDEXES; k++) {
    res.median[k] = bench_median(times[k]);
    res.cv[k] = bench_cv(times[k]);
  }
  res.parts = take_apart(&x.qt, &worlds[0], steps, reps);
  qtree_free(x.qt.tree);
  return res;
}

// The step times of every index, as they are measured.
void print_times(const result_t results[], int reps)
{
  printf("Quadtree (limits 4, 4, 1; root box (-1, -1)..(1, 1)) against brute force and Boost "
         "rtrees\nN boxes of half-size 0.05; a step moves one box and counts the boxes "
         "overlapping it\n\nCPU time per step: median of %d repetitions (coefficient of "
         "variation)\n%6s",
         reps, "N");
  for (const char *name : NAMES)
    printf("  %18s", name);
  printf("\n");
  for (size_t s = 0; s < std::size(SIZES); s++) {
    printf("%6d", SIZES[s]);
    for (int k = 0; k < INDEXES; k++)
      printf("  %8.0f ns (%4.1f%%)", results[s].median[k] * 1e9, results[s].cv[k] * 100);
    printf("\n");
  }
}

void print_ratios(const result_t results[])
{
  printf("\nRatios: anchor time / quadtree time (medians of this run); above 1 the quadtree "
         "is faster\n%6s",
         "N");
  for (int k = 1; k < INDEXES; k++)
    printf("  %15s", NAMES[k]);
  printf("  goal\n");
  const char *const goals[] = {"brute >= 0.5x", "brute, rtrees >= 1.5x",
                               "brute >= 5x, rtrees >= 1x", ""};
  for (size_t s = 0; s < std::size(SIZES); s++) {
    printf("%6d", SIZES[s]);
    for (int k = 1; k < INDEXES; k++)
      printf("  %14.2fx", results[s].median[k] / results[s].median[0]);
    printf("  %s\n", goals[s]);
  }
}

void print_parts(const result_t results[])
{
  printf("\nThe quadtree's step taken apart (medians; ns)\n%6s  %8s  %8s  %11s  %12s  "
         "%10s  %8s  %8s\n",
         "N", "move", "search", "refs/search", "longest leaf", "ns per ref", "floor", "budget");
  for (size_t s = 0; s < std::size(SIZES); s++) {
    const parts_t &p = results[s].parts;
    // No step can be quicker than its move and its longest leaf walked bare.
    const double floor = p.move + p.longest * p.per_ref;
    printf("%6d  %8.0f  %8.0f  %11.1f  %12.1f  %10.2f  %8.0f", SIZES[s], p.move * 1e9,
           p.search * 1e9, p.refs, p.longest, p.per_ref * 1e9, floor * 1e9);
    if (GOALS[s] > 0) {
      const double budget = results[s].median[1] / GOALS[s];
      printf("  %8.0f  %s", budget * 1e9,
             p.move > budget  ? "the move alone exceeds the budget"
             : floor > budget ? "the floor exceeds the budget"
                              : "");
    }
    printf("\n");
  }
  printf("budget: the step time that would meet the goal against brute force\n");
}

}  // namespace

// Optional argument: the number of repetitions (default 7, at least 5).
int main(int argc, char **argv)
{
  const int reps = argc > 1 ? std::max(5, atoi(argv[1])) : 7;
  result_t results[std::size(SIZES)];
  for (size_t s = 0; s < std::size(SIZES); s++)
    results[s] = measure(SIZES[s], reps);
  print_times(results, reps);
  print_ratios(results);
  print_parts(results);
  return 0;
}
