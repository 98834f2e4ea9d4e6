#!/usr/bin/env bash
# Private X session for running the real game without a desktop: Xvfb with a
# cookie of its own, openbox (so focus and full screen behave as on a
# desktop) and the environment that makes Mesa draw GL 2.1 in software.
# Source it, then: xsession_start WORKDIR WIDTHxHEIGHT; ...; xsession_stop.
# Or run a command in a session of its own, which ends with it:
#   bash xsession.sh WIDTHxHEIGHT COMMAND [ARGUMENT...]
# Needs Xvfb, xauth, openbox and Mesa's Vulkan drivers (for zink).

xsession_pids=()

# Starts Xvfb and openbox; exports DISPLAY, XAUTHORITY, XDG_RUNTIME_DIR and
# the GL variables. Returns non-zero, with a message, when X does not start.
xsession_start() {
  local work=$1 size=${2:-1280x720} cookie i
  mkdir -p "$work"
  cookie=$(od -An -tx1 -N16 /dev/urandom | tr -d ' \n')
  # The server accepts every cookie in its file whatever display it names;
  # the number is only known once Xvfb has picked a free one.
  xauth -q -f "$work/server-auth" add :0 . "$cookie" 2>/dev/null
  Xvfb -displayfd 7 -auth "$work/server-auth" -nolisten tcp -noreset \
       -screen 0 "${size}x24" 7>"$work/display" >"$work/xvfb.log" 2>&1 &
  xsession_pids+=($!)
  for i in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "${xsession_pids[0]}" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$work/display" ]; then
    echo "Xvfb did not start (log: $work/xvfb.log)" >&2
    return 1
  fi
  DISPLAY=":$(tr -d '\n' <"$work/display")"
  export DISPLAY
  export XAUTHORITY="$work/client-auth"
  xauth -q -f "$XAUTHORITY" add "$DISPLAY" . "$cookie" 2>/dev/null
  # Plain llvmpipe under Xvfb refuses a swap interval, which the game treats
  # as fatal; zink on lavapipe honours it.
  export MESA_LOADER_DRIVER_OVERRIDE=zink LIBGL_ALWAYS_SOFTWARE=1
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  unset WAYLAND_DISPLAY
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  xsession_pids+=($!)
  # openbox is ready when it has claimed the window-manager selection; it
  # also adopts windows mapped before that, so the wait is only a courtesy.
  for i in $(seq 20); do
    command -v xprop >/dev/null || break
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.1
  done
  sleep 0.5
  return 0
}

# Waits up to SECONDS for a visible window titled TITLE, and no longer than
# process PID (if given) lives; prints the window's id.
xsession_wait_window() {
  local title=$1 seconds=${2:-30} pid=${3:-} id i
  for i in $(seq $((seconds * 5))); do
    [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null && return 1
    id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

# Saves the whole screen as a PNG.
xsession_shot() {
  import -silent -window root "$1" 2>/dev/null
}

# Ends openbox and Xvfb, the processes this file started, newest first.
xsession_stop() {
  local i
  for ((i = ${#xsession_pids[@]} - 1; i >= 0; i--)); do
    kill "${xsession_pids[i]}" 2>/dev/null
    wait "${xsession_pids[i]}" 2>/dev/null
  done
  xsession_pids=()
}

# Runs COMMAND with its arguments in a new session of the given size, then
# ends the session; returns the command's status (1 if X did not start).
xsession_run() {
  local size=$1 work status=1
  shift
  work=$(mktemp -d "${TMPDIR:-/tmp}/orb-xsession.XXXXXX") || return 1
  if xsession_start "$work" "$size"; then
    "$@"
    status=$?
  fi
  xsession_stop
  rm -rf "$work"
  return $status
}

# Executed rather than sourced: run the command line in a session.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  trap xsession_stop EXIT
  trap 'exit 143' INT TERM
  xsession_run "$@"
fi
