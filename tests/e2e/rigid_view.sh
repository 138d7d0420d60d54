#!/usr/bin/env bash
# The real viewer on the sample character, its model hidden (F5 twice): F7
# draws the rigid bodies over the grid (the head's sphere red, where the
# start-up camera puts the head) and F7 again takes them away.
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/lib.sh"
e2e_under_xvfb "$@"

[ -f "$build/sample/sample.pmd" ] || fail "the build wrote no sample character"
start=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$start"' EXIT
cd "$start"
"$build/qevtest" "$build/sample/sample.pmd" &
pid=$!
wid=$(wait_window "QEV") || fail "no window appeared"

# A key held over a few of the viewer's 30-per-second keyboard polls.
press() {
  xdotool windowfocus --sync "$wid" 2>/dev/null || true
  xdotool keydown "$1"
  sleep 0.2
  xdotool keyup "$1"
  sleep 0.4
}

# Red pixels around the head (x 540..740, y 20..200 of the 1280 x 800
# picture): the grid and the IK goal markers draw none there.
head_red() {
  convert "$1" -crop 200x180+540+20 +repage -alpha off -fill white -opaque '#FF0000' \
    -fill black +opaque white -format '%[fx:round(mean*w*h)]' info:
}

sleep 1.5  # the load and some frames
press F5
press F5
import -window "$wid" "$start/hidden.png"
press F7
import -window "$wid" "$start/rigid.png"
press F7
import -window "$wid" "$start/off.png"

hidden=$(head_red "$start/hidden.png")
rigid=$(head_red "$start/rigid.png")
off=$(head_red "$start/off.png")
[ "$hidden" -eq 0 ] || fail "$hidden red pixels at the head with the model hidden"
[ "$rigid" -gt 200 ] || fail "F7 drew only $rigid red pixels at the head"
[ "$off" -eq 0 ] || fail "F7 again left $off red pixels at the head"
shown=$(compare -metric AE "$start/hidden.png" "$start/rigid.png" null: 2>&1 || true)
[ "${shown%%.*}" -gt 2000 ] 2>/dev/null || fail "F7 changed only $shown pixels"

"$build/tests/wm_close" "$wid"
wait_exit "$pid" || fail "the viewer did not end after the close request"
echo "rigid view: ok"
