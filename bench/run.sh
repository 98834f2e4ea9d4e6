#!/usr/bin/env bash
# Build the arena and quadtree benchmarks (RelWithDebInfo, assertions on) and
# run them; each prints its ratio table last. The argument, if any, is the
# number of repetitions. BUILD_DIR overrides the build directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORB_BENCH=ON >/dev/null
nice -n 10 cmake --build "$build" --target arena_bench qtree_bench -j2 >/dev/null
"$build/bench/arena/arena_bench" "$@"
echo
"$build/bench/qtree/qtree_bench" "$@"
