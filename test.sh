#!/usr/bin/env bash
# Install what the tests need, build, and run every suite: once plain and
# once under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh tools/deps-play.txt tools/deps-test.txt
jobs=$(nproc)
status=0
for variant in plain asan; do
  dir=build-test-$variant
  flags=()
  [ $variant = asan ] && flags=(-DORB_SANITIZE=ON)
  echo "== $variant: configure and build in $dir"
  if ! { cmake -S . -B "$dir" "${flags[@]}" && cmake --build "$dir" -j"$jobs"; } >"$dir.log" 2>&1; then
    tail -n 60 "$dir.log"; echo "build failed ($variant), full log: $dir.log"; exit 1
  fi
  echo "== $variant: ctest"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 600) || status=1
done
exit $status
