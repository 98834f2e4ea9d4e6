#!/usr/bin/env bash
# Builds a library's libFuzzer entry with clang, together with the sources
# (src/*/*.cpp) and include directory (src) of each library named, and
# fuzzes it for a bounded time. Anything the fuzzer finds (a crash, the abort
# of a model mismatch, a sanitizer report, a leak) fails the test; the input
# is kept in OUTDIR. libFuzzer's own code for a finding is 77, which ctest
# reads as "skipped": it is turned into 1 here, and 77 only means that clang
# is missing.
#
# Usage: fuzz-test.sh SECONDS OUTDIR ENTRY.cpp LIBRARY_DIR...
set -euo pipefail
seconds=$1 out=$2 entry=$3
sources=() includes=()
for lib in "${@:4}"; do
  sources+=("$lib"/src/*/*.cpp)
  includes+=("-I$lib/src")
done
command -v clang++ >/dev/null || { echo "clang++ is missing (Debian package clang): skipped"; exit 77; }
name=$(basename "$entry" .cpp)
mkdir -p "$out/$name-corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  "${includes[@]}" "$entry" "${sources[@]}" -o "$out/$name"
exec "$out/$name" -max_total_time="$seconds" -error_exitcode=1 -timeout_exitcode=1 \
  -artifact_prefix="$out/$name-" -print_final_stats=1 "$out/$name-corpus"
