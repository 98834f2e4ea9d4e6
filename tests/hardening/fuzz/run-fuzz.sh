#!/usr/bin/env bash
# Build one libFuzzer target with clang straight from the library sources,
# replay its regression inputs, then fuzz it for a bounded time.
#
# Usage: run-fuzz.sh NAME SECONDS OUTDIR SOURCE... -- INCLUDE_DIR...
# Regression inputs live in tests/hardening/corpus/NAME; new inputs found
# while fuzzing go to OUTDIR only, never into the source tree.
set -euo pipefail
name=$1 seconds=$2 out=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
sources=() includes=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do sources+=("$1"); shift; done
[ $# -gt 0 ] && shift
for dir in "$@"; do includes+=("-I$dir"); done

cxx=${ORB_FUZZ_CXX:-$(command -v clang++ || true)}
if [ -z "$cxx" ]; then
  echo "clang++ not found: the $name fuzz target needs Debian's clang (apt-get install clang); skipped"
  exit 77
fi
mkdir -p "$out/$name-corpus" "$out/$name-artifacts"
# The library sources are compiled here with the fuzzer's own
# instrumentation; the CMake sanitizer flags of this build do not apply.
"$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  "${includes[@]}" -I"$here" "$here/${name}_fuzz.cpp" "${sources[@]}" -o "$out/${name}_fuzz"

regressions="$here/../corpus/$name"
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
if compgen -G "$regressions/*" >/dev/null; then
  echo "replaying $(ls "$regressions" | wc -l) regression inputs"
  "$out/${name}_fuzz" -runs=0 "$regressions"/*
fi
"$out/${name}_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
  -artifact_prefix="$out/$name-artifacts/" "$out/$name-corpus" \
  $(compgen -G "$regressions/*" >/dev/null && echo "$regressions") 2>&1 | grep -v '^"' | tail -n 25
exit "${PIPESTATUS[0]}"
