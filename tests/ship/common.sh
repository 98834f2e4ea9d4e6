# Shared by the shipping tests: a scratch directory removed on exit, and a
# clean skip (ctest's SKIP_RETURN_CODE 77) when a needed tool is absent.
set -uo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/orb-ship.XXXXXX")
cleanups=()
on_exit() {
  local c
  for c in "${cleanups[@]}"; do eval "$c"; done
  rm -rf "$scratch"
}
trap on_exit EXIT

need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
}

fail() { echo "FAIL: $*"; exit 1; }

# Installs the build tree under $1 with the prefix $2 (DESTDIR staging).
install_tree() {
  DESTDIR=$1 cmake --install "$build" --prefix "$2" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; fail "cmake --install failed"; }
}
