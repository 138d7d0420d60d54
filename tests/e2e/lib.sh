# Helpers of the end-to-end scripts: a private virtual display, waiting for
# the viewer's window, closing it as a window manager would.

# Re-runs the calling script under its own Xvfb (1920 x 1080) unless it is
# already inside one.
e2e_under_xvfb() {
  if [ -z "${QEV_E2E_INNER:-}" ]; then
    exec env QEV_E2E_INNER=1 xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" bash "$0" "$@"
  fi
}

fail() { echo "FAIL: $*" >&2; exit 1; }

# Waits (up to 60 s: a busy machine starts slowly) for a window whose name
# contains $1; prints its id.
wait_window() {
  local id=""
  for _ in $(seq 1 600); do
    id=$(xdotool search --name "$1" 2>/dev/null | head -n1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
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
