// bench-cpu: what the arena and quadtree benchmarks time with, and how they
// sum up repetitions.
//
// Time is the calling thread's CPU time, so that other processes on a shared
// machine do not count against the code measured (they still disturb its
// caches, which is why every case is repeated and the repetitions of the
// subject and its anchors are interleaved). A case is summed up by the median
// of its repetitions and their coefficient of variation (standard deviation
// over mean); ratios are taken between medians of the same run.
//
// Does NOT: pick repetition counts, warm anything up, or hide a repetition.
#pragma once

#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

// CPU time of this thread, in seconds.
inline double bench_cpu_now()
{
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// The median of the samples (the mean of the middle two for an even count).
inline double bench_median(std::vector<double> v)
{
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) * 0.5;
}

// Standard deviation over mean, as a fraction.
inline double bench_cv(const std::vector<double> &v)
{
  double mean = 0;
  for (double x : v)
    mean += x;
  mean /= double(v.size());
  double var = 0;
  for (double x : v)
    var += (x - mean) * (x - mean);
  var /= double(v.size() > 1 ? v.size() - 1 : 1);
  return std::sqrt(var) / mean;
}
