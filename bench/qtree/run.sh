#!/usr/bin/env bash
# Build and run the arena and quadtree benchmarks; each prints its ratio table last.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${BUILD_DIR:-build-bench}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target arena_bench qtree_bench -j"$(nproc)"
"$dir"/bench/arena/arena_bench "$@"
"$dir"/bench/qtree/qtree_bench "$@"
