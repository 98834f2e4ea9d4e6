#!/bin/bash
# Runs the game, and when it stopped at start-up because no sound device
# could be opened, starts it once more silently (SDL's dummy audio driver),
# saying so in one line. play.sh, the headless preview and the installed
# launcher all start the game through this script.
#
# Usage: no-sound-fallback [-o] NOTE PROGRAM [ARGUMENT...]
#   NOTE  the line printed before the silent start: on standard error, or on
#         standard output with -o
# The exit status is the program's. With SDL_AUDIODRIVER set the caller has
# chosen a driver, and the program simply runs.
to=2
if [ "${1:-}" = -o ]; then
  to=1
  shift
fi
note=$1
shift
[ -z "${SDL_AUDIODRIVER:-}" ] || exec "$@"

# stderr reaches the terminal as it is written; the copy only lets us
# recognise that one failure, and goes on every way out (the EXIT trap also
# runs on SIGTERM and SIGHUP). tee ignores Ctrl-C, which the game turns into
# a clean quit.
err=$(mktemp "${TMPDIR:-/tmp}/orb-stderr.XXXXXX") || exec "$@"
trap 'rm -f "$err"' EXIT
{ "$@" 2>&1 1>&3 3>&- | tee -i "$err" >&2; } 3>&1
status=${PIPESTATUS[0]}
if [ "$status" -eq 1 ] && grep -q 'Unable to open audio' "$err"; then
  rm -f "$err"
  echo "$note" >&"$to"
  SDL_AUDIODRIVER=dummy exec "$@"
fi
exit "$status"
