#!/usr/bin/env bash
# Builds one library's libFuzzer entry with clang, together with the
# library's sources and include directories, and fuzzes it for a bounded
# time. Anything the fuzzer finds (a crash, the abort of a model mismatch, a
# sanitizer report, a leak) fails the test; the input is kept in OUTDIR.
# libFuzzer's own code for a finding is 77, which ctest reads as "skipped":
# it is turned into 1 here, and 77 only means clang is missing.
#
# Usage: fuzz-test.sh SECONDS OUTDIR ENTRY.cpp SOURCE.cpp... -- INCLUDE_DIR...
set -euo pipefail
seconds=$1 out=$2 entry=$3
shift 3
sources=() includes=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do sources+=("$1"); shift; done
[ $# -gt 0 ] && shift
for dir in "$@"; do includes+=("-I$dir"); done
command -v clang++ >/dev/null || { echo "clang++ is missing (Debian package clang): skipped"; exit 77; }
name=$(basename "$entry" .cpp)
mkdir -p "$out/$name-corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  "${includes[@]}" "$entry" "${sources[@]}" -o "$out/$name"
exec "$out/$name" -max_total_time="$seconds" -error_exitcode=1 -timeout_exitcode=1 \
  -artifact_prefix="$out/$name-" -print_final_stats=1 "$out/$name-corpus"
