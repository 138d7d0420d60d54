#!/usr/bin/env bash
# The viewer hung up (its terminal closed) while F9 bakes a long motion: the
# half-written temporary file goes with it, and the file already at the chosen
# name stays as it was.
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/lib.sh"
e2e_under_xvfb "$@"

[ -f "$build/sample/sample.pmd" ] || fail "the build wrote no sample character"
start=$(mktemp -d)
trap 'kill -9 $pid 2>/dev/null || true; rm -rf "$start"' EXIT
mkdir "$start/bin" "$start/work"
# The dialog answers the one name, which already holds an older export.
cat > "$start/bin/zenity" <<STUB
#!/usr/bin/env bash
echo "$start/work/out.x"
STUB
chmod +x "$start/bin/zenity"
echo "an older export" > "$start/work/out.x"
cp "$build/sample/sample.pmd" "$build/sample/sample.bmp" "$start/work/"
# The walk with its first key moved to frame 100000: a bake of some seconds.
cp "$build/sample/walk.vmd" "$start/work/long.vmd"
# 30-byte header, 20-byte model name, 4-byte key count, 15-byte bone name
printf '\xa0\x86\x01\x00' | dd of="$start/work/long.vmd" bs=1 seek=69 conv=notrunc 2>/dev/null
cd "$start/work"
PATH="$start/bin:$PATH" "$build/qevtest" "$start/work/sample.pmd" "$start/work/long.vmd" &
pid=$!
wid=$(wait_window "QEV") || fail "no window appeared"
sleep 1

press F9
# the bake writes beside out.x under a dot name until it is done
temporary=""
for _ in $(seq 1 300); do
  temporary=$(ls -A "$start/work" | grep '^\.out\.x' || true)
  [ -n "$temporary" ] && break
  sleep 0.05
done
[ -n "$temporary" ] || fail "F9 wrote no temporary file beside out.x: $(ls -A "$start/work")"
kill -HUP "$pid"
wait_exit "$pid" || fail "the viewer did not end on the hang-up"
[ "$STATUS" -eq $((128 + 1)) ] || fail "the viewer ended with status $STATUS, not by the hang-up"
left=$(ls -A "$start/work" | grep '^\.' || true)
[ -z "$left" ] || fail "the hang-up left $left behind"
[ "$(cat "$start/work/out.x")" = "an older export" ] || fail "the older export was replaced"
echo "hang-up during export: ok"
