#!/usr/bin/env bash
# Build the scene graph benchmark without sanitizers and run it; arguments go
# to Google Benchmark (e.g. --benchmark_filter=dirty). BUILD_DIR overrides the
# build directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -DORB_SANITIZE=OFF -DORB_BENCH=ON >/dev/null
cmake --build "$build" --target tableau_bench -j2 >/dev/null
exec "$build/bench/tableau/tableau_bench" "$@"
