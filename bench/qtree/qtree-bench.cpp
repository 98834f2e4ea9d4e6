// The game's collision workload: N boxes of half-size 0.05 in the square
// -1..1; each simulated step moves every box by a small random step and then
// runs one box search around it. The quadtree against a brute-force scan and
// against Boost.Geometry's R-tree (remove and insert per move, the same
// intersects query). All three see the same boxes and the same steps, and
// must find the same number of overlaps, or the benchmark stops with an error.
#include <benchmark/benchmark.h>

#include <boost/function_output_iterator.hpp>
#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bench-ratio.hpp"
#include "qtree/qtree.hpp"

namespace {

constexpr float HALF = 0.05f;
constexpr float STEP = 0.01f;

// Tree limits per population (max_objects, max_depth; max_asip 1 as in the game),
// picked by sweeping: the cost is lowest when leaves are about as wide as a box.
struct limits_t {
  int n;
  uint32_t max_objects;
  uint32_t max_depth;
};
const limits_t LIMITS[] = {{20, 4, 4}, {200, 16, 3}, {2000, 16, 4}, {20000, 64, 4}};

const limits_t &limits_for(int n) {
  for (const limits_t &l : LIMITS)
    if (l.n == n)
      return l;
  return LIMITS[0];
}

// xorshift32: cheap enough not to dominate the smallest workload.
struct rng_t {
  uint32_t s;
};

inline float next_unit(rng_t *r) {  // in [-1, 1)
  r->s ^= r->s << 13;
  r->s ^= r->s >> 17;
  r->s ^= r->s << 5;
  return float(r->s >> 8) * (2.0f / 16777216.0f) - 1.0f;
}

// One random step of a box centre, reflected to stay inside the square.
inline void step(rng_t *r, v2f_t *c) {
  c->x += next_unit(r) * STEP;
  c->y += next_unit(r) * STEP;
  const float lim = 1.0f - HALF;
  if (c->x > lim) c->x = 2 * lim - c->x;
  if (c->x < -lim) c->x = -2 * lim - c->x;
  if (c->y > lim) c->y = 2 * lim - c->y;
  if (c->y < -lim) c->y = -2 * lim - c->y;
}

inline aabb_t box_at(v2f_t c) { return {{c.x - HALF, c.y - HALF}, {c.x + HALF, c.y + HALF}}; }

std::vector<v2f_t> start_centres(int n) {
  rng_t r{12345};
  std::vector<v2f_t> c(static_cast<size_t>(n));
  for (v2f_t &p : c)
    p = {next_unit(&r) * (1 - HALF), next_unit(&r) * (1 - HALF)};
  return c;
}

// The search callback: what the game's callbacks do for an object they ignore.
uint32_t count_hit(void *ctx, qtree_object_t *, const v2f_t *, const aabb_t *, void *) {
  (*static_cast<uint64_t *>(ctx))++;
  return QTREE_CONTINUE;
}

// Every index calls the callback once per overlap, through a pointer the
// compiler cannot see through, as the game's own handlers would be called.
qtree_search_cb_t hidden_callback() {
  qtree_search_cb_t cb = count_hit;
  benchmark::DoNotOptimize(cb);
  return cb;
}

// Hits of the first step, per N, for the cross-check.
std::vector<std::pair<int, uint64_t>> first_hits;

bool check_first_hits(benchmark::State &state, int n, uint64_t hits) {
  for (auto &[m, h] : first_hits)
    if (m == n && h != hits) {
      state.SkipWithError("a different number of overlaps than the other index");
      return false;
    }
  first_hits.push_back({n, hits});
  return true;
}

void BM_qtree(benchmark::State &state) {
  const int n = int(state.range(0));
  const limits_t &l = limits_for(n);
  qtree_t *q = qtree_new(nullptr, l.max_objects, l.max_depth, 1);
  std::vector<v2f_t> c = start_centres(n);
  std::vector<qtree_object_t *> objects;
  for (const v2f_t &p : c) {
    const aabb_t b = box_at(p);
    objects.push_back(qtree_object_new(q, nullptr, nullptr, &b, nullptr));
  }
  rng_t r{777};
  bool first = true;
  for (auto _ : state) {
    uint64_t hits = 0;
    for (int i = 0; i < n; i++) {
      step(&r, &c[size_t(i)]);
      const aabb_t b = box_at(c[size_t(i)]);
      qtree_object_move(q, objects[size_t(i)], nullptr, nullptr, &b);
      qtree_search_by_aabb(q, nullptr, nullptr, &b, count_hit, &hits);
    }
    benchmark::DoNotOptimize(hits);
    if (first && !check_first_hits(state, n, hits))
      break;
    first = false;
  }
  state.SetItemsProcessed(state.iterations() * n);
  qtree_free(q);
}

void BM_brute(benchmark::State &state) {
  const int n = int(state.range(0));
  std::vector<v2f_t> c = start_centres(n);
  std::vector<aabb_t> boxes;
  for (const v2f_t &p : c)
    boxes.push_back(box_at(p));
  qtree_search_cb_t cb = hidden_callback();
  rng_t r{777};
  bool first = true;
  for (auto _ : state) {
    uint64_t hits = 0;
    for (int i = 0; i < n; i++) {
      step(&r, &c[size_t(i)]);
      const aabb_t b = box_at(c[size_t(i)]);
      boxes[size_t(i)] = b;
      for (const aabb_t &o : boxes)
        if (o.max.x >= b.min.x && b.max.x >= o.min.x && o.max.y >= b.min.y && b.max.y >= o.min.y)
          cb(&hits, nullptr, nullptr, &o, nullptr);
    }
    benchmark::DoNotOptimize(hits);
    if (first && !check_first_hits(state, n, hits))
      break;
    first = false;
  }
  state.SetItemsProcessed(state.iterations() * n);
}

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;
using bpoint_t = bg::model::point<float, 2, bg::cs::cartesian>;
using bbox_t = bg::model::box<bpoint_t>;
using bvalue_t = std::pair<bbox_t, uint32_t>;

inline bbox_t bbox_at(v2f_t c) {
  return bbox_t(bpoint_t(c.x - HALF, c.y - HALF), bpoint_t(c.x + HALF, c.y + HALF));
}

template <typename params_t>
void BM_rtree(benchmark::State &state) {
  const int n = int(state.range(0));
  std::vector<v2f_t> c = start_centres(n);
  bgi::rtree<bvalue_t, params_t> rt;
  qtree_search_cb_t cb = hidden_callback();
  for (int i = 0; i < n; i++)
    rt.insert({bbox_at(c[size_t(i)]), uint32_t(i)});
  rng_t r{777};
  bool first = true;
  for (auto _ : state) {
    uint64_t hits = 0;
    auto counter = boost::make_function_output_iterator(
        [&hits, cb](const bvalue_t &) { cb(&hits, nullptr, nullptr, nullptr, nullptr); });
    for (int i = 0; i < n; i++) {
      rt.remove(bvalue_t{bbox_at(c[size_t(i)]), uint32_t(i)});
      step(&r, &c[size_t(i)]);
      const bbox_t b = bbox_at(c[size_t(i)]);
      rt.insert({b, uint32_t(i)});
      rt.query(bgi::intersects(b), counter);
    }
    benchmark::DoNotOptimize(hits);
    if (first && !check_first_hits(state, n, hits))
      break;
    first = false;
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void sizes(benchmark::internal::Benchmark *b) {
  for (const limits_t &l : LIMITS)
    b->Arg(l.n);
  b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_qtree)->Apply(sizes);
BENCHMARK(BM_brute)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_rtree, bgi::quadratic<16>)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_rtree, bgi::rstar<16>)->Apply(sizes);

}  // namespace

int main(int argc, char **argv) {
  bench_times_t t = bench_run(argc, argv);
  if (t.empty())
    return 1;
  printf("\nRatios from this run: anchor time / quadtree time per step, wall clock (CPU);\n"
         "above 1 means the quadtree is faster\n");
  printf("  %6s  %-9s  %-15s  %-15s  %-15s\n", "N", "limits", "vs brute", "vs rtree quad",
         "vs rtree R*");
  for (const limits_t &l : LIMITS) {
    const std::string arg = "/" + std::to_string(l.n);
    const std::string qt = "BM_qtree" + arg;
    const std::string anchors[] = {"BM_brute" + arg, "BM_rtree<bgi::quadratic<16>>" + arg,
                                   "BM_rtree<bgi::rstar<16>>" + arg};
    printf("  %6d  %2u, %u, 1  ", l.n, l.max_objects, l.max_depth);
    for (const std::string &a : anchors)
      printf("  %6.2fx (%5.2fx)", bench_ratio(t, a, qt), bench_cpu_ratio(t, a, qt));
    printf("\n");
  }
  printf("  goals: >= 10x brute at 2000; > 1x both rtrees from 200 up; >= 0.5x brute at 20\n");
  return 0;
}
