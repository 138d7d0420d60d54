#!/usr/bin/env bash
# The real viewer under a virtual display draws the floor grid where the
# start-up camera puts it, and a left drag orbits the view: after a drag of
# 120 pixels to the left (30 degrees about the vertical through the target)
# the red X axis and the blue Z axis are found where the camera math puts
# them. Pixel positions are the projections of points on the axes through
# the start-up view (eye (10, 20, 20), target (0, 10, 0), 45 degrees, 1.6)
# and through that view turned by -30 degrees about Y.
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/lib.sh"
e2e_under_xvfb "$@"

start=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$start"' EXIT
cd "$start"
"$build/qevtest" &
pid=$!
wid=$(wait_window "QEV") || fail "no window appeared"

# The colour within one pixel of (x, y) that matches $3 (hex RRGGBB), else
# the colour at (x, y).
colour_near() {
  local shot=$1 x=$2 y=$3 want=$4
  local found
  found=$(convert "$shot" -crop "3x3+$((x - 1))+$((y - 1))" +repage txt:- | grep -io "#$want" | head -n1 || true)
  if [ -n "$found" ]; then echo "$want"; return; fi
  convert "$shot" -crop "1x1+$x+$y" +repage txt:- | sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | head -n1
}

expect_colour() {
  local shot=$1 x=$2 y=$3 want=$4 what=$5
  local got
  got=$(colour_near "$shot" "$x" "$y" "$want")
  [ "${got^^}" = "${want^^}" ] || fail "$what: #$got at $x,$y in $(basename "$shot"), expected #$want"
}

expect_not_colour() {
  local shot=$1 x=$2 y=$3 colour=$4 what=$5
  local got
  got=$(colour_near "$shot" "$x" "$y" "$colour")
  [ "${got^^}" != "${colour^^}" ] || fail "$what: still #$colour at $x,$y"
}

sleep 1.5  # some frames
# The player's timeline covers the front of the floor: F12 hides it.
press F12
import -window "$wid" "$start/before.png"
expect_colour "$start/before.png" 10 10 202020 "background"
expect_colour "$start/before.png" 499 659 FF0000 "red X axis at (-5, 0, 0)"
expect_colour "$start/before.png" 803 765 FF0000 "red X axis at (5, 0, 0)"
expect_colour "$start/before.png" 706 616 0000FF "blue Z axis at (0, 0, -5)"
expect_colour "$start/before.png" 753 708 808080 "grey line x = 3"
expect_colour "$start/before.png" 749 683 202020 "inside a floor square"

xdotool mousemove --window "$wid" 640 400
sleep 0.2
xdotool mousedown 1
sleep 0.2
xdotool mousemove --window "$wid" 580 400
sleep 0.1
xdotool mousemove --window "$wid" 520 400
sleep 0.2
xdotool mouseup 1
sleep 0.8
import -window "$wid" "$start/after.png"

diff_pixels=$(compare -metric AE "$start/before.png" "$start/after.png" null: 2>&1 || true)
[ "${diff_pixels%%.*}" -gt 1000 ] 2>/dev/null || fail "the picture hardly changed ($diff_pixels pixels)"
expect_colour "$start/after.png" 558 621 FF0000 "red X axis at (-5, 0, 0) after the orbit"
expect_colour "$start/after.png" 770 649 0000FF "blue Z axis at (0, 0, -5) after the orbit"
expect_not_colour "$start/after.png" 499 659 FF0000 "red X axis did not move"
# The green mark stands on the orbit's axis: it stays put.
expect_colour "$start/after.png" 640 692 00FF00 "green Y mark"

"$build/tests/wm_close" "$wid"
wait_exit "$pid" || fail "the viewer did not end after the close request"
echo "grid and orbit: ok"
