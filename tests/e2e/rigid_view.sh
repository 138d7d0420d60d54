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

# Pixels around the head (x 540..740, y 20..200 of the 1280 x 800 picture,
# where neither the grid nor the IK goal markers reach): red ones, and any
# but the background.
head_count() {
  convert "$2" -crop 200x180+540+20 +repage -alpha off -fill white $1 \
    -fill black +opaque white -format '%[fx:round(mean*w*h)]' info:
}
head_red() { head_count "-opaque #FF0000" "$1"; }
head_drawn() { head_count "+opaque #202020" "$1"; }

# Screenshots into $3 until `$1` of it passes the test $2 (a shell condition
# on $n), for up to 5 seconds: a busy machine draws late.
shoot_until() {
  local count=$1 test=$2 shot=$3
  for _ in $(seq 1 25); do
    import -window "$wid" "$shot"
    n=$($count "$shot")
    if eval "$test"; then return 0; fi
    sleep 0.2
  done
  return 1
}

sleep 1.5  # the load and some frames
shoot_until head_drawn '[ "$n" -gt 500 ]' "$start/model.png" || fail "the model shows only $n pixels at the head"
press F5
press F5
shoot_until head_drawn '[ "$n" -eq 0 ]' "$start/hidden.png" || fail "$n pixels at the head with the model hidden"
press F7
shoot_until head_red '[ "$n" -gt 200 ]' "$start/rigid.png" || fail "F7 drew only $n red pixels at the head"
shown=$(compare -metric AE "$start/hidden.png" "$start/rigid.png" null: 2>&1 || true)
[ "${shown%%.*}" -gt 2000 ] 2>/dev/null || fail "F7 changed only $shown pixels"
press F7
shoot_until head_drawn '[ "$n" -eq 0 ]' "$start/off.png" || fail "F7 again left $n pixels at the head"

"$build/tests/wm_close" "$wid"
wait_exit "$pid" || fail "the viewer did not end after the close request"
echo "rigid view: ok"
