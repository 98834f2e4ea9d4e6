#!/usr/bin/env bash
# Install what the tests need, build, and run every suite: once plain and
# once under AddressSanitizer + UndefinedBehaviorSanitizer. The full build
# and test output goes to logs inside each build directory; the terminal
# gets ctest's summary and the names of failed tests.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh tools/deps-play.txt tools/deps-test.txt
jobs=$(nproc)
status=0
# Tests and benchmarks are asked for by name, so that a missing package
# stops the configure instead of leaving them out.
for variant in plain asan; do
  dir=build-test-$variant
  flags=(-DORB_BENCH=ON)
  # The benchmarks are built once, in the plain build: sanitized, they would
  # only take build time and measure nothing.
  [ $variant = asan ] && flags=(-DORB_SANITIZE=ON -DORB_BENCH=OFF)
  mkdir -p "$dir"
  echo "== $variant: configure and build in $dir"
  if ! { cmake -S . -B "$dir" -DORB_TESTS=ON "${flags[@]}" && cmake --build "$dir" -j"$jobs"; } >"$dir/build.log" 2>&1; then
    tail -n 60 "$dir/build.log"; echo "build failed ($variant), full log: $dir/build.log"; exit 1
  fi
  echo "== $variant: ctest"
  if (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 600 >ctest.log 2>&1); then
    sed -n '/tests passed/,$p' "$dir/ctest.log"
  else
    status=1
    if grep -q 'tests passed' "$dir/ctest.log"; then
      sed -n '/tests passed/,$p' "$dir/ctest.log"
    else
      tail -n 30 "$dir/ctest.log"
    fi
    echo "failures of $variant, with their output: $dir/ctest.log"
  fi
done
exit $status
