#!/usr/bin/env bash
# The real viewer on the sample character with its walk: F10 and F9 in the
# window, the save dialog answered by a stand-in zenity that records what it
# was asked. F10's file is the one `qevtool convert` writes; F9's has the
# same mesh and bones and one key per frame of the walk for every bone.
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/lib.sh"
e2e_under_xvfb "$@"

[ -f "$build/sample/sample.pmd" ] || fail "the build wrote no sample character"
start=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$start"' EXIT
mkdir "$start/bin"
# The dialog: each call logs its arguments and answers the next name.
cat > "$start/bin/zenity" <<STUB
#!/usr/bin/env bash
n=\$(( \$(cat "$start/calls" 2>/dev/null || echo 0) + 1 ))
echo \$n > "$start/calls"
printf '%s\n' "\$@" > "$start/asked\$n"
echo "$start/out\$n.x"
STUB
chmod +x "$start/bin/zenity"
cp "$build/sample/sample.pmd" "$build/sample/walk.vmd" "$build/sample/sample.bmp" "$start/"
cd "$start"
PATH="$start/bin:$PATH" "$build/qevtest" "$start/sample.pmd" "$start/walk.vmd" &
pid=$!
wid=$(wait_window "QEV") || fail "no window appeared"

# Waits (up to 20 s) for a file to appear.
wait_file() {
  for _ in $(seq 1 200); do
    [ -f "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

sleep 1.5  # the loads and some frames of the walk
press F10
wait_file "$start/out1.x" || fail "F10 wrote no file"
grep -qx -- "--save" "$start/asked1" || fail "F10's dialog was no save dialog: $(cat "$start/asked1")"
grep -qx -- "--filename=$start/sample.x" "$start/asked1" || fail "F10 proposed no sample.x: $(cat "$start/asked1")"
! grep -q -- "--confirm-overwrite" "$start/asked1" || fail "F10's dialog asks before replacing a file"
"$build/qevtool" convert "$start/sample.pmd" -o "$start/convert.x"
cmp -s "$start/out1.x" "$start/convert.x" || fail "F10's file is not the plain mesh qevtool writes"

press F9
wait_file "$start/out2.x" || fail "F9 wrote no file"
frames=$(grep -c '^   [0-9]*;16;' "$start/out2.x" || true)
bones=$(grep -c '^ Animation {' "$start/out2.x" || true)
[ "$bones" -gt 10 ] || fail "F9 wrote $bones animations"
[ "$frames" -eq $((bones * 60)) ] || fail "F9 wrote $frames keys for $bones bones of a 60-frame walk"
"$build/qevtool" bake "$start/sample.pmd" -o "$start/still.x"
head -c "$(stat -c %s "$start/still.x")" "$start/out2.x" | cmp -s - "$start/still.x" ||
  fail "F9's mesh, weights and frames differ from qevtool bake's"

"$build/tests/wm_close" "$wid"
wait_exit "$pid" || fail "the viewer did not end after the close request"
echo "x export: ok"
