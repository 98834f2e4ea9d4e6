#!/usr/bin/env bash
# The checks too long for CI, run by hand before a release:
#   1. in a sanitized build, the command-line check with hundreds of argument
#      vectors (a new seed each time unless ARGV_SEED is set), and each
#      libFuzzer target for minutes;
#   2. in a plain build, every test suite under valgrind memcheck: memory
#      errors everywhere, and definite leaks in the three pure libraries'
#      suites (the GL and game suites keep a GL context, and the driver's
#      memory, for the life of the process).
# Exits non-zero if any check failed; the logs stay in a directory it names.
#
# Usage: tools/long-checks.sh [ARGV_COUNT [FUZZ_SECONDS]]   (default 400, 300)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
log=$(mktemp -d /tmp/orb-long-XXXXXX) status=0
# check NAME COMMAND...: runs the command into NAME's log and says how it went.
check() { if "${@:2}" >"$log/$1.log" 2>&1; then echo "ok    $1"; else echo "FAIL  $1 ($log/$1.log)"; status=1; return 1; fi; }
build() { check "build-$1" bash -c "cmake -S . -B build-long-$1 -DORB_BENCH=OFF $2 && cmake --build build-long-$1 -j$(nproc)" || exit 1; }
build asan -DORB_SANITIZE=ON
build plain -DORB_SANITIZE=OFF
b=build-long-asan run=(tests/hardening/hardening-test.py "$b/orb" "$b/assets" "$b/tests/hardening/hardening_probe.so")
check argv "${run[@]}" argv "${1:-400}" "${ARGV_SEED:-$RANDOM}"
fuzz=(tests/hardening/fuzz-test.sh "${2:-300}" "$log/fuzz") q=libqtree t=libtableau
check fuzz-arena "${fuzz[@]}" $q/libarena/tests/arena-fuzz.cpp $q/libarena
check fuzz-qtree "${fuzz[@]}" $q/tests/qtree-fuzz.cpp $q $q/libarena
check fuzz-tableau "${fuzz[@]}" $t/tests/tableau-fuzz.cpp $t
for suite in $(find build-long-plain -name '*_tests' ! -name '*alloc*' -type f -executable | sort); do
  leaks=no && [[ $suite =~ /(arena|qtree|tableau)_tests$ ]] && leaks=full
  check "valgrind-${suite##*/}" env SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=offscreen valgrind -q --error-exitcode=1 \
    --leak-check=$leaks --errors-for-leak-kinds=definite --suppressions=tools/valgrind/orb.supp "$suite"
done
exit $status
