#!/usr/bin/env bash
# The installed tree holds everything a desktop needs, and its desktop entry
# and AppStream data pass the freedesktop validators.
source "$(dirname "$0")/common.sh"
need desktop-file-validate appstreamcli
root=$scratch/root
install_tree "$root" /usr
u=$root/usr
# The component id names both files; take it from the metainfo installed.
app_id=$(basename "$(ls "$u"/share/metainfo/*.metainfo.xml 2>/dev/null | head -n1)" .metainfo.xml)
[ -n "$app_id" ] || fail "no metainfo installed"

expect=(bin/orb libexec/orb/orb
        share/orb/assets/quietmoth.ogg share/orb/assets/game.ogg
        share/orb/assets/baby-infected.wav share/orb/assets/baby-held.wav
        share/orb/assets/baby-rescued.wav share/orb/assets/adult-infected.wav
        share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml
        share/icons/hicolor/scalable/apps/orb.svg)
for s in 256 128 64 48 32; do expect+=(share/icons/hicolor/${s}x$s/apps/orb.png); done
for f in "${expect[@]}"; do [ -s "$u/$f" ] || fail "missing from the installed tree: $f"; done
[ -x "$u/bin/orb" ] && [ -x "$u/libexec/orb/orb" ] || fail "launcher or program is not executable"

for s in 256 128 64 48 32; do
  got=$(identify -format '%wx%h' "$u/share/icons/hicolor/${s}x$s/apps/orb.png" 2>/dev/null) || continue
  [ "$got" = "${s}x$s" ] || fail "the ${s}x$s icon is $got"
done

desktop=$u/share/applications/$app_id.desktop
grep -qx 'Exec=orb' "$desktop" && grep -qx 'Icon=orb' "$desktop" &&
  grep -qx 'Path=/usr/share/orb' "$desktop" && grep -qx 'Categories=Game;ArcadeGame;' "$desktop" ||
  { cat "$desktop"; fail "desktop entry lacks Exec, Icon, Path or Categories"; }
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
appstreamcli validate --no-net --pedantic "$u/share/metainfo/$app_id.metainfo.xml" ||
  fail "appstreamcli rejects the metainfo"
echo "installed tree complete; desktop entry and metainfo valid"
