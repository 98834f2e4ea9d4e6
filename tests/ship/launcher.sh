#!/usr/bin/env bash
# The launcher runs the program from the data directory with the arguments
# it was given, passes its exit status on, and replays a start that failed
# for want of a sound device with SDL's dummy audio driver, saying so once.
# The program here is a stand-in that reports what it saw: the real one
# cannot be made to lack a sound device on demand.
source "$(dirname "$0")/common.sh"
root=$scratch/root
install_tree "$root" /opt/orb
p=$root/opt/orb
cat >"$p/libexec/orb/orb" <<'STUB'
#!/bin/bash
echo "cwd=$PWD args=$* audio=${SDL_AUDIODRIVER:-}" >>"$ORB_STUB_LOG"
[ -f assets/game.ogg ] || { echo "Fatal error: no assets here" >&2; exit 1; }
case "${SDL_AUDIODRIVER:-}:${ORB_STUB_AUDIO:-ok}" in
  :none) echo "Fatal error: Unable to open audio: no device" >&2; exit 1 ;;
esac
exit "${ORB_STUB_STATUS:-0}"
STUB
chmod +x "$p/libexec/orb/orb"
export ORB_STUB_LOG=$scratch/stub.log
unset SDL_AUDIODRIVER
cd "$scratch"

# a sound device: one run, from the data directory, arguments intact
"$p/bin/orb" --window "1280x720" >"$scratch/out" 2>&1 || fail "launcher failed: $(cat "$scratch/out")"
[ "$(cat "$ORB_STUB_LOG")" = "cwd=$p/share/orb args=--window 1280x720 audio=" ] ||
  fail "unexpected run: $(cat "$ORB_STUB_LOG")"
[ ! -s "$scratch/out" ] || fail "launcher printed: $(cat "$scratch/out")"

# through a symbolic link on the PATH, as a package manager might arrange
mkdir -p "$scratch/path" && ln -s "$p/bin/orb" "$scratch/path/orb" && : >"$ORB_STUB_LOG"
PATH=$scratch/path:$PATH orb || fail "launcher through a link failed"
grep -q "cwd=$p/share/orb " "$ORB_STUB_LOG" || fail "through a link: $(cat "$ORB_STUB_LOG")"

# no sound device: a second run with the dummy driver, and one line about it
: >"$ORB_STUB_LOG"
ORB_STUB_AUDIO=none "$p/bin/orb" --window >"$scratch/out" 2>&1 || fail "fallback run failed: $(cat "$scratch/out")"
[ "$(wc -l <"$ORB_STUB_LOG")" -eq 2 ] && tail -n1 "$ORB_STUB_LOG" | grep -q 'args=--window audio=dummy' ||
  fail "no silent second run: $(cat "$ORB_STUB_LOG")"
grep -q 'Unable to open audio' "$scratch/out" || fail "the program's own message was swallowed"
[ "$(grep -vc 'Fatal error' "$scratch/out")" -eq 1 ] || fail "expected one line of explanation: $(cat "$scratch/out")"

# any other failure is passed on as it is, without a second run
: >"$ORB_STUB_LOG"
ORB_STUB_STATUS=1 "$p/bin/orb"; status=$?
[ $status -eq 1 ] && [ "$(wc -l <"$ORB_STUB_LOG")" -eq 1 ] || fail "failure status $status, runs: $(cat "$ORB_STUB_LOG")"
echo "launcher: data directory, arguments, status and audio fallback as expected"
