// bench-ratio: run the registered benchmarks with the console reporter and
// keep each result's real time per iteration, so that a benchmark binary can
// print ratios computed from the very same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

// Seconds per iteration, wall clock and CPU.
struct bench_time_t {
  double real;
  double cpu;
};

// Times by benchmark name (the name as printed, arguments included).
using bench_times_t = std::map<std::string, bench_time_t>;

// The console reporter, recording as it prints.
class bench_recorder_t : public benchmark::ConsoleReporter {
 public:
  explicit bench_recorder_t(bench_times_t *times) : times_(times) {}
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        (*times_)[run.benchmark_name()] = {
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit),
            run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit)};
    ConsoleReporter::ReportRuns(runs);
  }

 private:
  bench_times_t *times_;
};

// Run everything registered; the recorded times, or an empty map on bad arguments.
inline bench_times_t bench_run(int argc, char **argv) {
  bench_times_t times;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return times;
  bench_recorder_t recorder(&times);
  benchmark::RunSpecifiedBenchmarks(&recorder);
  benchmark::Shutdown();
  return times;
}

// anchor / subject in wall-clock time, or 0 when either was not run (filtered out).
inline double bench_ratio(const bench_times_t &times, const std::string &anchor,
                          const std::string &subject) {
  auto a = times.find(anchor), s = times.find(subject);
  if (a == times.end() || s == times.end() || s->second.real <= 0)
    return 0;
  return a->second.real / s->second.real;
}

// The same ratio in CPU time, steadier than wall-clock time on a shared machine.
inline double bench_cpu_ratio(const bench_times_t &times, const std::string &anchor,
                              const std::string &subject) {
  auto a = times.find(anchor), s = times.find(subject);
  if (a == times.end() || s == times.end() || s->second.cpu <= 0)
    return 0;
  return a->second.cpu / s->second.cpu;
}
