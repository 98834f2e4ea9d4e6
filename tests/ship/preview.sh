#!/usr/bin/env bash
# The headless preview runs the real game through its logo into play, saves
# the logo, a play screenshot and an animation, and ends the game cleanly.
# Bounded to 30 s of game time: enough for play, not for a score screen.
source "$(dirname "$0")/common.sh"
need Xvfb xauth openbox xdotool xwd convert identify python3
"$source_dir/tools/preview/preview.sh" "$build" "$scratch/out" 30 >"$scratch/log" 2>&1
status=$?
cat "$scratch/log"
[ $status -eq 0 ] || fail "preview failed with status $status"
for f in logo.png play.png preview.gif; do [ -s "$scratch/out/$f" ] || fail "no $f"; done
[ "$(identify -format '%w' "$scratch/out/logo.png")" = 960 ] || fail "logo.png is not a full screen"
frames=$(identify "$scratch/out/preview.gif" | wc -l)
[ "$frames" -ge 3 ] || fail "the animation has $frames frames"
grep -q "$scratch/out/play.png" "$scratch/log" || fail "the preview does not say where play.png is"
echo "preview: logo, play and a $frames-frame animation"
