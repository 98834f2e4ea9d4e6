#!/usr/bin/env bash
# Headless preview: run the real game in a private X session, play a short
# scripted demo with real key presses and save what it looked like.
#
# Usage: tools/preview/preview.sh BUILD_DIR OUT_DIR [MAX_SECONDS]
#   BUILD_DIR holds the program "orb" and its "assets"; OUT_DIR receives
#   logo.png, play.png, score.png (if the demo got that far), preview.gif
#   and game.log. The run ends after MAX_SECONDS (default 60) at the latest.
#
# The preview is X11 only. On Wayland the game was tried under a headless
# sway at scale 1 and 2 (tests/e2e): it runs natively when only
# WAYLAND_DISPLAY is set, through XWayland when DISPLAY is set too.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
out=$(mkdir -p "$2" && cd "$2" && pwd)
limit=${3:-60}
for tool in Xvfb xauth openbox xdotool xwd convert python3; do
  command -v $tool >/dev/null || { echo "preview: $tool is missing"; exit 1; }
done
[ -x "$build/orb" ] || { echo "preview: no program at $build/orb"; exit 1; }

# shellcheck source=xsession.sh disable=SC1091  # followed with shellcheck -x from this folder
source "$here/xsession.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/orb-preview.XXXXXX")
game=""
cleanup() {
  [ -n "${driver:-}" ] && kill "$driver" 2>/dev/null
  [ -n "${judge_PID:-}" ] && kill "$judge_PID" 2>/dev/null
  [ -n "$game" ] && kill "$game" 2>/dev/null && wait "$game" 2>/dev/null
  xsession_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

xsession_start "$work/x" 960x540 || exit 1
rm -f "$out"/logo.png "$out"/play.png "$out"/score.png "$out"/preview.gif
mkdir -p "$work/frames"

# The game, full screen from the build directory; silent where there is no
# sound device.
(cd "$build" && exec "$here/../../packaging/no-sound-fallback.sh" -o \
  "preview: no sound device here, running the game silently (SDL_AUDIODRIVER=dummy)" ./orb) 2>"$out/game.log" &
game=$!
win=$(xsession_wait_window Orb 30 "$game")
if [ -z "$win" ]; then
  echo "preview: the game did not open its window; its messages:"; sed 's/^/  /' "$out/game.log"
  exit 1
fi
# Times in milliseconds since the window appeared.
t0=$(date +%s%3N)
elapsed() { echo $(($(date +%s%3N) - t0)); }
after() { [ "$(elapsed)" -ge $(($1 * 1000)) ]; }
alive() { kill -0 "$game" 2>/dev/null; }

# The logo fades in for 3.3 s and holds until 6.7 s; the game starts at ~10 s.
while ! after 5; do sleep 0.2; done
alive && xwd -root -silent | convert xwd:- "$out/logo.png"
while alive && ! after 11; do sleep 0.2; done

coproc judge { exec python3 "$here/score-shown.py"; }
# Demo: short moves that cancel out, so the adult stays in the middle of the
# field where the viruses pass, sweeping across their columns. The keys are
# pressed by a process of their own, so that how long a key is held does not
# depend on how long a screen dump takes. Each entry: key, milliseconds held.
moves=(Left 300 Right 300 Up 250 Down 250 Right 300 Left 300 Down 250 Up 250
       a 300 d 300 w 250 s 250 d 300 a 300 s 250 w 250)
keys=(Left Right Up Down a d w s)
drive() {
  local i
  while :; do
    for ((i = 0; i < ${#moves[@]}; i += 2)); do
      xdotool keydown "${moves[i]}"
      sleep "$(printf '0.%03d' "${moves[i + 1]}")"
      xdotool keyup "${moves[i]}"
      sleep 0.15
    done
  done
}
driver=""
stop_driving() {
  [ -n "$driver" ] || return 0
  kill "$driver" 2>/dev/null; wait "$driver" 2>/dev/null; driver=""
  sleep 0.2   # a key press already under way lands before the release
  xdotool keyup "${keys[@]}"
}
# Real key presses (XTEST) go to the focused window, as from a keyboard.
timeout 5 xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
drive & driver=$!
frame=0; shown=""; prev=""; play=""; score=""
while alive && ! after "$limit"; do
  # Raw dumps are quick to take; they become pictures after the run.
  f=$(printf '%s/frames/%03d.xwd' "$work" $frame)
  xwd -root -silent -out "$f" || break
  frame=$((frame + 1))
  [ $frame -eq 8 ] && play=$f
  if [ -n "$shown" ]; then
    # a few frames of the score screen for the animation, then stop
    [ $((frame - shown)) -ge 4 ] && break
  elif [ -n "$prev" ] && echo "$prev $f" >&"${judge[1]}" && read -r answer <&"${judge[0]}" &&
       [ "$answer" = 0 ]; then
    # Let go at once: after a second, any key press would start a new game.
    stop_driving
    score=$f; shown=$frame
    [ -n "$play" ] || play="$work/frames/000.xwd"
  fi
  prev=$f
  sleep 0.2
done
stop_driving
secs=$(($(elapsed) / 1000))

if alive; then
  timeout 5 xdotool windowactivate --sync "$win" 2>/dev/null
  xdotool key Escape
  for _ in $(seq 50); do alive || break; sleep 0.1; done
fi
if alive; then
  echo "preview: the game did not end on Escape"; status=1
else
  wait "$game"; status=$?; game=""
fi

# A slow machine may not have reached the eighth dump: take the middle one.
if [ -z "$play" ] && [ $frame -gt 0 ]; then
  play=$(printf '%s/frames/%03d.xwd' "$work" $((${shown:-$frame} / 2)))
fi
[ -n "$play" ] && convert "xwd:$play" "$out/play.png"
[ -n "$score" ] && convert "xwd:$score" "$out/score.png"
# The animation: the game's frames, at most 40 of them, at half size.
frames=("$work"/frames/*.xwd)
if [ -e "${frames[0]}" ]; then
  n=${#frames[@]}; pick=()
  stride=$(((n + 39) / 40))
  for ((i = 0; i < n; i += stride)); do pick+=("xwd:${frames[i]}"); done
  convert -delay $((50 * stride)) -loop 0 "${pick[@]}" -resize 50% -layers Optimize "$out/preview.gif"
fi

echo "preview: ran the game for ${secs}s (exit status $status); score screen $([ -n "$shown" ] && echo reached || echo "not reached in ${limit}s")"
for f in logo.png play.png score.png preview.gif; do
  [ -e "$out/$f" ] && echo "  $out/$f"
done
echo "preview: in a desktop session ./play.sh plays for real; on Wayland SDL_VIDEODRIVER=wayland asks"
echo "  for a native window (sharp at 200 % scale), SDL_VIDEODRIVER=x11 for XWayland if that fails"
[ $status -eq 0 ]
