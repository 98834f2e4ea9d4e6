#!/usr/bin/env bash
# Shipping checks, each in a scratch directory removed on exit.
#   package  the .deb passes lintian (which also wants the libraries it links
#            named in Depends) and the freedesktop validators, its desktop
#            entry names the launcher and the data, it holds the icons, and the
#            game unpacked from it runs under X from an unrelated directory:
#            the logo, then the game, then Escape ends it with status 0
#   installed a cmake --install under any prefix: the launcher, reached through
#            a link, runs the program from the data directory with its
#            arguments and passes its status on; a start that found no sound
#            device is replayed once with the dummy driver, saying so; its
#            temporary file goes even when it is killed; the README's
#            uninstall steps leave nothing behind
#   preview  the headless preview saves its pictures
# Usage: ship-test.sh BUILD_DIR package|installed|preview
# "A && B || fail" fails when either fails, as meant; the stub is written verbatim.
# shellcheck disable=SC2015,SC2016
set -uo pipefail
umask 002  # as in a group-writable checkout: nothing installed may follow it
build=$(cd "$1" && pwd) src=$(cd "$(dirname "$0")/../.." && pwd)
s=$(mktemp -d "${TMPDIR:-/tmp}/orb-ship.XXXXXX")
# shellcheck source-path=SCRIPTDIR/../.. source=tools/preview/xsession.sh
source "$src/tools/preview/xsession.sh"
trap 'xsession_stop; rm -rf "$s"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

package() {
  (cd "$s" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$s/out") >"$s/log" 2>&1 || fail "cpack: $(cat "$s/log")"
  deb=$(echo "$s"/out/orb_*.deb)
  lintian --allow-root --pedantic -I -E --fail-on error,warning,info "$deb" || fail "lintian"
  dpkg-deb -x "$deb" "$s/root" && cd "$s/root/usr/share" || fail "dpkg-deb -x"
  desktop-file-validate applications/*.desktop && appstreamcli validate --no-net metainfo/*.xml || fail "validators"
  [ -x "$s/root$(sed -n 's/^Exec=//p' applications/*.desktop)" ] && [ -d "$s/root$(sed -n 's/^Path=//p' applications/*.desktop)/assets" ] || fail "Exec= or Path="
  ls icons/hicolor/{32x32,48x48,64x64,128x128,256x256}/apps/orb.png icons/hicolor/scalable/apps/orb.svg >/dev/null || fail "icons"
  xsession_start "$s/x" 800x600 || fail "no X server"
  mkdir "$s/elsewhere" && cd "$s/elsewhere" || exit 1
  SDL_AUDIODRIVER=dummy "$s/root/usr/games/orb" --window 640x480 2>"$s/log" & game=$!
  win=$(xsession_wait_window Orb 30 $game) || fail "no window: $(cat "$s/log")"
  # Spread of a band of the window in hundredths: 0 is one flat colour.
  spread() { convert "$1" -crop "$2" +repage -format '%[fx:round(100*standard_deviation)]' info:; }
  sleep 5 && import -silent -window "$win" "$s/logo.png"  # the logo is held from 3.3 s to 6.7 s
  [ "$(spread "$s/logo.png" 512x96+64+192)" -ge 3 ] && [ "$(spread "$s/logo.png" 512x80+64+24)" -le 1 ] ||
    fail "no logo in the middle of a plain window"
  sleep 8 && import -silent -window "$win" "$s/game.png"  # the game's plasma from 10 s on
  [ "$(spread "$s/game.png" 512x80+64+24)" -ge 3 ] || fail "no plasma once the game runs"
  timeout 5 xdotool windowactivate --sync "$win"; xdotool key Escape  # a real key press (XTEST)
  timeout 10 tail --pid=$game -f /dev/null && wait $game || fail "status $? after Escape: $(cat "$s/log")"
}

installed() {
  DESTDIR=$s/root cmake --install "$build" --prefix /opt/orb >"$s/log" || fail "cmake --install"
  printf '#!/bin/bash\necho "$PWD $* ${SDL_AUDIODRIVER:-}" >>"$STUB_LOG"\n%s\n%s\n' \
    '[ -z "${SDL_AUDIODRIVER:-}" ] && [ -n "${STUB_NO_AUDIO:-}" ] && { echo "Fatal error: Unable to open audio" >&2; exit 1; }' \
    'sleep "${STUB_SLEEP:-0}"; [ -f assets/game.ogg ] && exit "${STUB_STATUS:-0}"' >"$s/root/opt/orb/libexec/orb/orb"
  export STUB_LOG=$s/runs TMPDIR=$s/tmp && mkdir "$TMPDIR" && ln -s "$s/root/opt/orb/games/orb" "$s/orb" && cd "$s" || exit 1
  unset SDL_AUDIODRIVER
  data=$s/root/opt/orb/share/games/orb
  STUB_STATUS=5 ./orb --window 1280x720
  [ $? = 5 ] && [ "$(cat "$STUB_LOG")" = "$data --window 1280x720 " ] || fail "$(cat "$STUB_LOG")"
  rm "$STUB_LOG" && STUB_NO_AUDIO=1 ./orb --window 2>"$s/err" && [ "$(grep -vc 'Fatal error' "$s/err")" = 1 ] &&
    [ "$(cat "$STUB_LOG")" = "$data --window "$'\n'"$data --window dummy" ] || fail "no replay: $(cat "$STUB_LOG" "$s/err")"
  STUB_SLEEP=2 ./orb & sleep 1 && kill -TERM $! && sleep 0.5
  [ -z "$(ls -A "$TMPDIR")" ] || fail "left in TMPDIR: $(ls "$TMPDIR")"
  sed "s|^|$s/root|" "$build/install_manifest.txt" >"$s/manifest"
  xargs -rd '\n' rm -f -- <"$s/manifest"
  xargs -rd '\n' dirname <"$s/manifest" | sort -u | xargs -rd '\n' rmdir -p --ignore-fail-on-non-empty
  [ ! -e "$s/root" ] || fail "left after uninstalling: $(find "$s/root")"
}

preview() {
  "$src/tools/preview/preview.sh" "$build" "$s/out" 14 >"$s/log" 2>&1 || fail "preview: $(cat "$s/log")"
  for f in logo.png play.png preview.gif; do [ -s "$s/out/$f" ] || fail "no $f: $(cat "$s/log")"; done
}

"$2"
echo "ship $2: ok"
