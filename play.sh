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
exec ../packaging/no-sound-fallback.sh -o \
  "== no usable sound device: starting again without sound (SDL_AUDIODRIVER=dummy)" ./orb "$@"
