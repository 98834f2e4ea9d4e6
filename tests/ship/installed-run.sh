#!/usr/bin/env bash
# The installed game, started through its launcher from an unrelated
# directory, shows the logo, goes on into the game and ends with status 0
# on Escape. Real program, real X server (Xvfb), real GL (Mesa in software).
source "$(dirname "$0")/common.sh"
need Xvfb xauth openbox xdotool import convert
root=$scratch/root
install_tree "$root" /opt/orb
source "$source_dir/tools/preview/xsession.sh"
xsession_start "$scratch/x" 800x600 || fail "no X server"
cleanups+=(xsession_stop)
export SDL_AUDIODRIVER=dummy

# Standard deviation of a band of the screen, in hundredths: 0 is one flat colour.
spread() {
  convert "$1" -crop "$2" +repage -format '%[fx:round(100*standard_deviation)]' info:
}

mkdir -p "$scratch/elsewhere" && cd "$scratch/elsewhere"
"$root/opt/orb/bin/orb" --window 640x480 2>"$scratch/game.log" &
game=$!
cleanups+=("kill $game 2>/dev/null")
win=$(xsession_wait_window Orb 30 $game) || { cat "$scratch/game.log"; fail "no window titled Orb"; }
read -r x y w h < <(xdotool getwindowgeometry --shell "$win" | sed -n 's/^[XYWIDTHEG]*=//p' | tr '\n' ' ')
[ "$w" = 640 ] && [ "$h" = 480 ] || fail "window is ${w}x$h, asked for 640x480"

# Logo fully faded in (3.3 s) and held: the band across the middle of the
# window carries a picture, the rest is the plain clear colour.
sleep 5
kill -0 $game 2>/dev/null || { cat "$scratch/game.log"; fail "game ended during the logo"; }
xsession_shot "$scratch/logo.png"
band=$(spread "$scratch/logo.png" "$((w * 8 / 10))x$((h / 5))+$((x + w / 10))+$((y + h * 2 / 5))")
top=$(spread "$scratch/logo.png" "$((w * 8 / 10))x$((h / 6))+$((x + w / 10))+$((y + h / 20))")
[ "$band" -ge 3 ] && [ "$top" -le 1 ] || fail "no logo in the middle (spread $band, above it $top)"

# After the logo (~10 s) the game draws the plasma over the whole window.
sleep 8
kill -0 $game 2>/dev/null || { cat "$scratch/game.log"; fail "game ended after the logo"; }
xsession_shot "$scratch/game.png"
top=$(spread "$scratch/game.png" "$((w * 8 / 10))x$((h / 6))+$((x + w / 10))+$((y + h / 20))")
[ "$top" -ge 3 ] || fail "no plasma background once the game runs (spread $top)"

# A real key press (XTEST) to the focused window, as from a keyboard.
timeout 5 xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
xdotool key Escape
for _ in $(seq 100); do kill -0 $game 2>/dev/null || break; sleep 0.1; done
kill -0 $game 2>/dev/null && fail "still running 10 s after Escape"
wait $game; status=$?
[ $status -eq 0 ] || { cat "$scratch/game.log"; fail "exit status $status after Escape"; }
echo "installed game: logo, game, Escape -> status 0"
