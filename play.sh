#!/usr/bin/env bash
# Install what is missing, build, and play Orb: in the desktop session if
# there is one, otherwise as a headless preview that saves screenshots.
# Usage: ./play.sh [--window [WIDTHxHEIGHT]]
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh tools/deps-play.txt

build=build
mkdir -p $build
if [ ! -f $build/CMakeCache.txt ]; then
  echo "== configure: $build"
  cmake -S . -B $build -DORB_TESTS=OFF -DORB_BENCH=OFF >$build/play-build.log 2>&1 ||
    { tail -n 40 $build/play-build.log; echo "configuration failed, full log: $build/play-build.log"; exit 1; }
fi

# The build log goes to a file; the terminal gets one progress line.
start=$(date +%s)
progress() {
  while IFS= read -r line; do
    if [ -t 1 ] && [[ $line =~ ^\[\ *([0-9]+)%\] ]]; then
      printf '\r== build: %3d%%' "${BASH_REMATCH[1]}"
    fi
  done
  if [ -t 1 ]; then printf '\r'; fi
}
set +e
cmake --build $build -j"$(nproc)" 2>&1 | tee $build/play-build.log | progress
built=${PIPESTATUS[0]}
set -e
if [ "$built" -ne 0 ]; then
  tail -n 40 $build/play-build.log; echo "build failed, full log: $build/play-build.log"; exit 1
fi
echo "== build: done in $build ($(($(date +%s) - start)) s)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "== no display (neither DISPLAY nor WAYLAND_DISPLAY is set): running a headless preview instead"
  tools/install-deps.sh tools/deps-preview.txt
  exec tools/preview/preview.sh $build $build/preview 60
fi

echo "== play: $build/orb $*"
cd $build
if [ -n "${SDL_AUDIODRIVER:-}" ]; then
  exec ./orb "$@"
fi
# Without a sound device the game stops at start-up; play silently instead.
err=$(mktemp "${TMPDIR:-/tmp}/orb-stderr.XXXXXX")
trap 'rm -f "$err"' EXIT  # also on SIGTERM and SIGHUP; exec skips it
set +e
# stderr reaches the terminal as it is written, and a copy goes to $err;
# tee ignores Ctrl-C, which the game turns into a clean quit
{ ./orb "$@" 2>&1 1>&3 3>&- | tee -i "$err" >&2; } 3>&1
status=${PIPESTATUS[0]}
set -e
if [ "$status" -eq 1 ] && grep -q 'Unable to open audio' "$err"; then
  rm -f "$err"
  echo "== no usable sound device: starting again without sound (SDL_AUDIODRIVER=dummy)"
  SDL_AUDIODRIVER=dummy exec ./orb "$@"
fi
exit "$status"
