#!/usr/bin/env bash
# The real viewer started on the sample character and its walk from the
# command line shows the figure over the grid, the figure moves (two
# screenshots a second apart differ), and F5 pressed twice (wireframe ->
# solid -> hidden) leaves only the grid and the IK goal markers.
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/lib.sh"
e2e_under_xvfb "$@"

[ -f "$build/sample/sample.pmd" ] && [ -f "$build/sample/walk.vmd" ] || fail "the build wrote no sample character"
start=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$start"' EXIT
cd "$start"
"$build/qevtest" "$build/sample/sample.pmd" "$build/sample/walk.vmd" &
pid=$!
wid=$(wait_window "QEV") || fail "no window appeared"

# Pixels in none of the colours the grid and the IK goal markers are drawn
# in (background, grey lines, red, green and blue axes, magenta squares):
# what the model adds to the picture.
model_pixels() {
  convert "$1" -alpha off -fill black \
    -opaque '#202020' -opaque '#808080' -opaque '#FF0000' -opaque '#00FF00' -opaque '#0000FF' -opaque '#FF00FF' \
    -fill white +opaque black -format '%[fx:round(mean*w*h)]' info:
}

# Screenshots into $2 until `model_pixels` of it passes the test $1 (a
# shell condition on $n), for up to 5 seconds: a busy machine draws late.
shoot_until() {
  local test=$1 shot=$2
  for _ in $(seq 1 25); do
    import -window "$wid" "$shot"
    n=$(model_pixels "$shot")
    if eval "$test"; then return 0; fi
    sleep 0.2
  done
  return 1
}

sleep 2  # the load and some frames of the walk
# The player's timeline (its counter and bar) is neither grid nor model: F12 hides it.
press F12
shoot_until '[ "$n" -gt 3000 ]' "$start/wire1.png" || fail "the wireframe figure adds only $n pixels to the grid"
wire=$n
sleep 1
import -window "$wid" "$start/wire2.png"
moved=$(compare -metric AE "$start/wire1.png" "$start/wire2.png" null: 2>&1 || true)
[ "${moved%%.*}" -gt 500 ] 2>/dev/null || fail "the walk does not move: $moved pixels differ a second apart"

press F5
shoot_until '[ "$n" -gt $((wire * 2)) ]' "$start/solid.png" || fail "solid drawing covers $n pixels, wireframe $wire"

press F5
shoot_until '[ "$n" -eq 0 ]' "$start/hidden.png" || fail "with the model hidden $n pixels are still neither grid nor markers"

"$build/tests/wm_close" "$wid"
wait_exit "$pid" || fail "the viewer did not end after the close request"
echo "sample walk: ok"
