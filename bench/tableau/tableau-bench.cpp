// Cost of tableau_render per node, against the floor of making the same
// callback calls from a flat array of the same nodes.
//
// The tree has 10,000 nodes on four levels (1 + 10 + 100 + 9,889), every
// node of the upper levels uses all ten layers, and every callback is empty,
// so what is measured is the walk itself: list traversal, flag tests,
// opacity products and the indirect calls. After the benchmark table the
// program prints ns per node and the ratio to the floor, computed from the
// medians of this same run.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <unistd.h>
#include <string>
#include <vector>

#include "tableau/tableau.hpp"

namespace {

constexpr int NODES = 10000;

__attribute__((noinline)) void noop(tableau_t *, void *, void *, float)
{
  benchmark::ClobberMemory();
}
const tableau_ops_t noop_ops = {noop, noop, nullptr};

struct scene_t {
  tableau_t *root;
  std::vector<tableau_t *> flat;  // every node, in the order the walks visit them,
                                  // so the floor reads memory in the same order
};

tableau_t *make(tableau_t *parent, int layer)
{
  tableau_conf_t conf = {};
  conf.parent = parent;
  conf.layer = layer;
  conf.name = "node";
  conf.alpha = 1.0f;
  conf.active = 1;
  tableau_t *t = tableau_new(&conf, &noop_ops, nullptr);
  if (!t)
    abort();
  return t;
}

void collect(tableau_t *t, std::vector<tableau_t *> &out)
{
  out.push_back(t);
  for (tableau_link_t &head : t->layers)
    for (tableau_link_t *pos = head.next; pos != &head; pos = pos->next)
      collect(
          reinterpret_cast<tableau_t *>(reinterpret_cast<char *>(pos) - offsetof(tableau_t, link)),
          out);
}

// Two builds of the same shape. "grouped": each parent makes its children
// one after another, as a program does when it fills a group, cycling through
// the ten layers, so the walk visits each layer's children at a stride of ten
// allocations. "scattered": the leaves are made round robin over their 100
// parents, so that siblings lie 100 allocations apart and nothing the walk
// reads next is near what it read before (the worst case for linked lists).
scene_t build(bool scattered)
{
  scene_t s;
  s.root = make(nullptr, 0);
  std::vector<tableau_t *> level1, level2;
  for (int i = 0; i < 10; ++i)
    level1.push_back(make(s.root, i));
  for (int i = 0; i < 100; ++i)
    level2.push_back(make(level1[i / 10], i % TABLEAU_LAYERS_MAX));
  const int leaves = NODES - 111;
  for (int i = 0; i < leaves; ++i) {
    if (scattered)
      make(level2[i % 100], (i / 100) % TABLEAU_LAYERS_MAX);
    else
      make(level2[i * 100 / leaves], i % TABLEAU_LAYERS_MAX);
  }
  collect(s.root, s.flat);
  if (s.flat.size() != NODES)
    abort();
  return s;
}

scene_t &scene(int64_t scattered)
{
  static scene_t grouped = build(false), spread = build(true);
  return scattered ? spread : grouped;
}

void per_node(benchmark::State &state)
{
  state.counters["per_node"] = benchmark::Counter(
      NODES, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A drawn frame: both walks.
void BM_render_dirty(benchmark::State &state)
{
  tableau_t *root = scene(state.range(0)).root;
  int arg;
  for (auto _ : state) {
    tableau_dirty(root);
    benchmark::DoNotOptimize(tableau_render(root, &arg));
  }
  per_node(state);
}

void BM_floor_dirty(benchmark::State &state)
{
  const std::vector<tableau_t *> &flat = scene(state.range(0)).flat;
  int arg;
  for (auto _ : state) {
    for (tableau_t *t : flat)
      t->ops->prepare(t, t->object, &arg, t->alpha);
    for (tableau_t *t : flat)
      t->ops->render(t, t->object, &arg, t->alpha);
  }
  per_node(state);
}

// An idle frame: the prepare walk alone.
void BM_render_clean(benchmark::State &state)
{
  tableau_t *root = scene(state.range(0)).root;
  int arg;
  for (auto _ : state)
    benchmark::DoNotOptimize(tableau_render(root, &arg));
  per_node(state);
}

void BM_floor_clean(benchmark::State &state)
{
  const std::vector<tableau_t *> &flat = scene(state.range(0)).flat;
  int arg;
  for (auto _ : state)
    for (tableau_t *t : flat)
      t->ops->prepare(t, t->object, &arg, t->alpha);
  per_node(state);
}

BENCHMARK(BM_render_dirty)->ArgName("scattered")->Arg(0)->Arg(1);
BENCHMARK(BM_floor_dirty)->ArgName("scattered")->Arg(0)->Arg(1);
BENCHMARK(BM_render_clean)->ArgName("scattered")->Arg(0)->Arg(1);
BENCHMARK(BM_floor_clean)->ArgName("scattered")->Arg(0)->Arg(1);

// Shows the table as usual and keeps, per benchmark, the median CPU time per
// iteration (or the single run's, without repetitions) for the summary.
class keeping_reporter : public benchmark::ConsoleReporter {
public:
  keeping_reporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
  std::map<std::string, double> ns;  // CPU ns per iteration

  void ReportRuns(const std::vector<Run> &runs) override
  {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const std::string name = run.run_name.function_name + "/" + run.run_name.args;
      if (median || (run.run_type == Run::RT_Iteration && !ns.count(name + "#median")))
        ns[name] = run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      if (median)
        ns[name + "#median"] = 1;
    }
  }
};

void summary(const keeping_reporter &r, const char *what, const std::string &tree,
             const std::string &flat)
{
  if (!r.ns.count(tree) || !r.ns.count(flat))
    return;
  const double t = r.ns.at(tree) / NODES, f = r.ns.at(flat) / NODES;
  printf("%-14s tableau_render %.2f ns/node, array floor %.2f ns/node, ratio %.2f (goal <= 3)\n",
         what, t, f, t / f);
}

}  // namespace

int main(int argc, char **argv)
{
  // Defaults that suit a shared, noisy machine; later arguments override them.
  std::vector<char *> args = {argv[0], const_cast<char *>("--benchmark_repetitions=5"),
                              const_cast<char *>("--benchmark_enable_random_interleaving=true"),
                              const_cast<char *>("--benchmark_display_aggregates_only=true")};
  for (int i = 1; i < argc; ++i)
    args.push_back(argv[i]);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data()))
    return 1;
  keeping_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  printf("\n%d nodes, CPU time of this run (median of the repetitions):\n", NODES);
  for (const char *layout : {"scattered:0", "scattered:1"}) {
    const std::string arg = std::string("/") + layout;
    printf("%s tree (%s):\n", layout[10] == '0' ? "grouped" : "scattered", layout);
    summary(reporter, "  drawn frame", "BM_render_dirty" + arg, "BM_floor_dirty" + arg);
    summary(reporter, "  idle frame", "BM_render_clean" + arg, "BM_floor_clean" + arg);
  }
  tableau_free(scene(0).root);
  tableau_free(scene(1).root);
  return 0;
}
