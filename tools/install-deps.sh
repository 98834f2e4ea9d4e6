#!/usr/bin/env bash
# Install the Debian packages listed in the given files that are not installed yet.
# Usage: tools/install-deps.sh tools/deps-play.txt [tools/deps-test.txt]
set -euo pipefail
wanted=$(grep -hv '^\s*#' "$@" | tr -s ' \n' '\n' | sed '/^$/d' | sort -u)
missing=()
for p in $wanted; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "== packages: all present"
  exit 0
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Missing packages: ${missing[*]} (run as root or install sudo)"; exit 1; }
  sudo=sudo
fi
echo "== packages: installing ${#missing[@]} (${missing[*]})"
log=$(mktemp)
if ! { $sudo apt-get update -q && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  tail -n 30 "$log"; echo "package installation failed (full log: $log)"; exit 1
fi
rm -f "$log"
