#!/usr/bin/env bash
# The checks too long for CI, run by hand before a release:
#   1. ten minutes of random play with restarts (memory must settle),
#   2. the command-line fuzz with more vectors, each libFuzzer target longer,
#   3. the unit suites under valgrind memcheck,
#   4. the whole-program figures against the floor program.
# Prints the figures at the end; exits non-zero if any check failed.
#
# Usage: tools/long-checks.sh [BUILD_DIR]   (default build-long, configured
# and built here without sanitizers, which would distort memory and time)
# Environment: SOAK_SECONDS (600), SOAK_GL (llvmpipe), FUZZ_SECONDS (300 per
# target), ARGV_COUNT (2000), WHOLE_REPS (5).
#
# The soak runs on llvmpipe through EGL by default: Mesa 22.3's zink keeps a
# few hundred bytes of heap per presented frame for good (a bare
# clear-and-swap program grows at the same rate), which would hide what the
# game itself keeps. SOAK_GL=zink soaks there instead and prints the growth
# per frame. The whole-program figures are taken on both stacks.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build-long}
soak=${SOAK_SECONDS:-600}
soak_gl=${SOAK_GL:-llvmpipe}
fuzz_seconds=${FUZZ_SECONDS:-300}
argv_count=${ARGV_COUNT:-2000}
reps=${WHOLE_REPS:-5}
jobs=$(nproc)
log=$(mktemp -d /tmp/orb-long-XXXXXX)
status=0
summary=()

step() { echo; echo "== $*"; }
record() {  # record NAME STATUS [FIGURE...]
  local name=$1 rc=$2; shift 2
  if [ "$rc" -eq 0 ]; then summary+=("ok    $name ${*:-}"); else summary+=("FAIL  $name ${*:-}"); status=1; fi
}

step "configure and build $build"
if ! { cmake -S . -B "$build" -DORB_SANITIZE=OFF && cmake --build "$build" -j"$jobs"; } >"$log/build.log" 2>&1; then
  tail -n 40 "$log/build.log"; echo "build failed, log: $log/build.log"; exit 1
fi
orb=$build/orb assets=$build/assets probe=$build/tests/hardening/hardening_probe.so

step "soak: $soak s of random play with restarts on $soak_gl"
python3 tests/hardening/play.py "$orb" "$assets" "$probe" --soak --seconds "$soak" --caught 2 \
  --warmup 60 --gl "$soak_gl" | tee "$log/soak.log"
record soak "${PIPESTATUS[0]}" "$(grep -E '^(played|resident|after|growth|textures)' "$log/soak.log" | tr '\n' ' ')"

step "command-line fuzz: $argv_count vectors"
python3 tests/hardening/argv_fuzz.py "$orb" "$assets" "$probe" --count "$argv_count" --jobs 4 \
  --seed "${ARGV_SEED:-$RANDOM}" | tee "$log/argv.log"
record argv-fuzz "${PIPESTATUS[0]}" "$(tail -n 1 "$log/argv.log")"

step "libFuzzer: $fuzz_seconds s per target"
a=libqtree/libarena/src q=libqtree/src t=libtableau/src
for target in arena qtree tableau; do
  case $target in
    arena) args=("$a/arena/arena.cpp" -- "$a") ;;
    qtree) args=("$q/qtree/qtree.cpp" "$a/arena/arena.cpp" -- "$q" "$a") ;;
    tableau) args=("$t/tableau/tableau.cpp" -- "$t") ;;
  esac
  tests/hardening/fuzz/run-fuzz.sh $target "$fuzz_seconds" "$log/fuzz" "${args[@]}" >"$log/fuzz-$target.log" 2>&1
  rc=$?
  tail -n 3 "$log/fuzz-$target.log"
  record "fuzz-$target" $rc "$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log/fuzz-$target.log" | grep -oE '[0-9]+$') runs"
done
echo "inputs that crashed (keep them in tests/hardening/corpus/<target>/): $(ls "$log"/fuzz/*-artifacts 2>/dev/null | tr '\n' ' ')"

step "valgrind memcheck: every unit suite"
# Leaks are checked where the suite can free what it makes: a real leak
# always has a definitely lost root, and the indirectly lost blocks hanging
# off a framework object that lives for the process by design (each test
# starts one) are its own (tools/valgrind/orb.supp). The GL and game suites
# are checked for memory errors only: every test there opens a GL context
# that the framework keeps for the process, so the driver's memory would
# fill the leak report. tableau_alloc_tests is left out: it wraps malloc
# itself to count allocations, which memcheck's own allocator cannot follow.
memcheck() {  # memcheck SUITE LEAK-ARGS...
  local suite=$1 name; shift
  name=$(basename "$suite")
  SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=offscreen valgrind --error-exitcode=1 \
    --suppressions=tools/valgrind/orb.supp "$@" -q "$build/$suite" >"$log/valgrind-$name.log" 2>&1
  local rc=$?
  tail -n 2 "$log/valgrind-$name.log"
  record "valgrind $name" $rc "$(grep -oE '\[  PASSED  \] [0-9]+ tests' "$log/valgrind-$name.log")"
}
for suite in libqtree/libarena/arena_tests libqtree/qtree_tests libtableau/tests/tableau_tests \
    libloop/tests/test-loop-context libloop/tests/test-loop-music libloop/tests/test-loop-ticks \
    tests/images/images_tests tests/audio/audio_tests; do
  memcheck $suite --leak-check=full --errors-for-leak-kinds=definite
done
for suite in tests/gl/gl_tests tests/game/game_tests; do
  memcheck $suite --leak-check=no
done

step "whole-program figures ($reps runs each, on zink and on llvmpipe)"
for gl in zink llvmpipe; do
  python3 bench/whole/run.py --build "$build" --reps "$reps" --gl $gl | tee -a "$log/whole.log"
  record "whole-program $gl" "${PIPESTATUS[0]}"
done
if [ -x "$build/bench/whole/whole_frame_bench" ]; then
  "$build/bench/whole/whole_frame_bench" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true | tee "$log/frame.log"
  record frame-bench "${PIPESTATUS[0]}"
fi

echo
echo "== summary (logs in $log)"
printf '%s\n' "${summary[@]}"
[ -f "$log/whole.log" ] && cat "$log/whole.log"
exit $status
