#!/usr/bin/env bash
# The real viewer started on the sample character, its walk and its camera
# file from the command line: with the figure hidden (F5 twice) and the IK
# goal markers off (F4) only the floor grid is left, so a picture that
# changes means the view moves. It moves while the camera plays; a mouse
# drag takes the view back (it then stands still while the walk goes on),
# and F11 gives it to the camera again.
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/lib.sh"
e2e_under_xvfb "$@"

for f in sample.pmd walk.vmd camera.vmd; do
  [ -f "$build/sample/$f" ] || fail "the build wrote no sample/$f"
done
start=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$start"' EXIT
cd "$start"
"$build/qevtest" "$build/sample/sample.pmd" "$build/sample/walk.vmd" "$build/sample/camera.vmd" &
pid=$!
wid=$(wait_window "QEV") || fail "no window appeared"

sleep 2  # the loads and some frames
press F5
press F5
press F4
press F12  # the timeline off: the whole picture is the camera's

# Pixels that differ between two screenshots $1 and $2.
differ() { compare -metric AE "$1" "$2" null: 2>&1 | awk '{ printf "%d\n", $1 + 0 }' || true; }

# Two screenshots half a second apart until they differ by more than $1
# pixels (moving), or for "still" until they are the same, for up to 5 s.
expect_view() {
  local want=$1 what=$2 n=0
  for i in $(seq 1 10); do
    import -window "$wid" "$start/a.png"
    sleep 0.5
    import -window "$wid" "$start/b.png"
    n=$(differ "$start/a.png" "$start/b.png")
    if [ "$want" = still ]; then [ "${n:-1}" -eq 0 ] && return 0; else [ "${n:-0}" -gt "$want" ] && return 0; fi
  done
  fail "$what: $n pixels differ half a second apart"
}

expect_view 2000 "the camera does not move the view"
# the grid is the only thing drawn: grey lines and the axes on the background
import -window "$wid" "$start/grid.png"
others=$(convert "$start/grid.png" -alpha off -fill black \
  -opaque '#202020' -opaque '#808080' -opaque '#FF0000' -opaque '#00FF00' -opaque '#0000FF' \
  -fill white +opaque black -format '%[fx:round(mean*w*h)]' info:)
[ "$others" -lt 200 ] || fail "$others pixels are not the grid's: the figure or the markers still show"

# a drag from the middle: the view is the mouse's and stands still
xdotool mousemove --window "$wid" 640 400
sleep 0.2
xdotool mousedown 1
sleep 0.2
xdotool mousemove --window "$wid" 600 400
sleep 0.2
xdotool mouseup 1
sleep 0.5
expect_view still "the view still moves after a drag"

press F11
expect_view 2000 "F11 did not give the view back to the camera"

"$build/tests/wm_close" "$wid"
wait_exit "$pid" || fail "the viewer did not end after the close request"
grep -qa "camera : 3 keys, frames 0 to 60" "$build/DEBUG.TXT" || fail "the camera file was not logged"
echo "sample camera: ok"
