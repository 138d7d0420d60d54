# Helpers of the end-to-end scripts: a private virtual display, waiting for
# the viewer's window, closing it as a window manager would.

# Re-runs the calling script under its own Xvfb (1920 x 1080) unless it is
# already inside one.
e2e_under_xvfb() {
  if [ -z "${QEV_E2E_INNER:-}" ]; then
    # -noreset: by default the server starts over whenever its last client
    # leaves (the display probe below, the window queries), and a viewer that
    # connects in that moment finds no display. A display number of its own:
    # the server of the script that ran just before may still be going away.
    exec env QEV_E2E_INNER=1 xvfb-run -a -n $((100 + RANDOM % 800)) \
      -s "-screen 0 1920x1080x24 -nolisten tcp -noreset" bash "$0" "$@"
  fi
  # The viewer must reach this server and no other kind of display: without
  # it the window system would be chosen elsewhere and no window would show.
  export SDL_VIDEODRIVER=x11
  # The server may not take connections yet when the script starts; a viewer
  # started then finds no display and ends at once.
  for _ in $(seq 1 200); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "FAIL: the virtual display $DISPLAY does not answer" >&2
  exit 1
}

fail() { echo "FAIL: $*" >&2; exit 1; }

# Waits (up to 60 s: a busy machine starts slowly) for a window whose name
# contains $1; prints its id. Gives up at once when the viewer ($pid) has ended.
wait_window() {
  local id=""
  for _ in $(seq 1 600); do
    id=$(xdotool search --name "$1" 2>/dev/null | head -n1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    # a viewer that has ended will show no window
    if [ -n "${pid:-}" ] && ! kill -0 "$pid" 2>/dev/null; then return 1; fi
    sleep 0.1
  done
  return 1
}

# Waits (up to 20 s) for a child process to end; sets STATUS to its exit status.
wait_exit() {
  local pid=$1
  for _ in $(seq 1 200); do
    if ! kill -0 "$pid" 2>/dev/null; then
      STATUS=0
      wait "$pid" || STATUS=$?
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Presses key $1 on the window $wid: held over a few of the viewer's
# 30-per-second keyboard polls and released over a few more, so that a
# second press is a new one.
press() {
  xdotool windowfocus --sync "$wid" 2>/dev/null || true
  xdotool keydown "$1"
  sleep 0.4
  xdotool keyup "$1"
  sleep 0.4
}
