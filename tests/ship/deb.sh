#!/usr/bin/env bash
# cpack builds a Debian package that holds the whole game under /usr and
# names the libraries it needs.
source "$(dirname "$0")/common.sh"
need cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out") >"$scratch/cpack.log" 2>&1 ||
  { tail -n 30 "$scratch/cpack.log"; fail "cpack failed"; }
deb=$(ls "$scratch"/out/orb_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || fail "no orb_*.deb made: $(ls "$scratch/out")"

[ "$(dpkg-deb -f "$deb" Package)" = orb ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Section)" = games ] || fail "section: $(dpkg-deb -f "$deb" Section)"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libsdl2-2.0-0 libsdl2-mixer-2.0-0 libgl1 libc6; do
  [[ ", $depends," == *", $lib "* || ", $depends," == *", $lib,"* ]] || fail "Depends lacks $lib: $depends"
done

app_id=$(dpkg-deb -c "$deb" | sed -n 's|.*/usr/share/metainfo/\(.*\)\.metainfo\.xml$|\1|p')
[ -n "$app_id" ] || fail "no metainfo in the package"
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$scratch/files"
expect=(/usr/bin/orb /usr/libexec/orb/orb /usr/share/orb/assets/quietmoth.ogg
        /usr/share/orb/assets/game.ogg /usr/share/orb/assets/baby-rescued.wav
        /usr/share/applications/$app_id.desktop /usr/share/metainfo/$app_id.metainfo.xml
        /usr/share/icons/hicolor/scalable/apps/orb.svg)
for s in 256 128 64 48 32; do expect+=(/usr/share/icons/hicolor/${s}x$s/apps/orb.png); done
for f in "${expect[@]}"; do grep -qx "$f" "$scratch/files" || fail "$f is not in the package"; done
grep -v '^/usr/' "$scratch/files" | grep -qv '^/$' && fail "files outside /usr: $(grep -v '^/usr/' "$scratch/files")"

dpkg-deb -x "$deb" "$scratch/x"
grep -qx 'Path=/usr/share/orb' "$scratch/x/usr/share/applications/$app_id.desktop" || fail "Path= is not /usr/share/orb"
desktop-file-validate "$scratch/x/usr/share/applications/$app_id.desktop" || fail "packaged desktop entry invalid"
appstreamcli validate --no-net "$scratch/x/usr/share/metainfo/$app_id.metainfo.xml" || fail "packaged metainfo invalid"
echo "$(basename "$deb"): $(wc -l <"$scratch/files") entries; Depends: $depends"
