#!/usr/bin/env bash
# The viewer's window destroyed by another program while a motion plays (the
# window system ends the viewer with an X error unless it is watched for):
# the viewer closes as if its close button had been pressed, exits 0, logs
# WM_QUIT and writes QEVTest.ini with the files it had open.
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/lib.sh"
e2e_under_xvfb "$@"

[ -f "$build/sample/sample.pmd" ] && [ -f "$build/sample/walk.vmd" ] || fail "the build wrote no sample character"
start=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$start"' EXIT
cd "$start"
"$build/qevtest" "$build/sample/sample.pmd" "$build/sample/walk.vmd" 2>"$start/stderr" &
pid=$!

wid=$(wait_window "QEV") || fail "no window appeared"
sleep 1  # frames drawn into the window before it goes
"$build/tests/x_destroy" "$wid" || fail "x_destroy could not destroy window $wid"
wait_exit "$pid" || fail "the viewer did not end after its window was destroyed"
[ "$STATUS" = 0 ] || fail "exit status $STATUS: $(cat "$start/stderr")"
! grep -q "X Error" "$start/stderr" || fail "an X error reached the default handler: $(cat "$start/stderr")"
grep -q "the window was destroyed by another program" "$start/stderr" || fail "no word of the destroyed window on stderr"
grep -qa "WM_QUIT" "$build/DEBUG.TXT" || fail "WM_QUIT not logged"

# the settings remember the model and the motion (UTF-16LE after a byte order mark)
[ -f "$start/QEVTest.ini" ] || fail "QEVTest.ini not written"
ini=$(tail -c +3 "$start/QEVTest.ini" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r')
echo "$ini" | grep -qx "PMDFILE=$build/sample/sample.pmd" || fail "QEVTest.ini holds: $ini"
echo "$ini" | grep -qx "VMDFILE=$build/sample/walk.vmd" || fail "QEVTest.ini holds: $ini"
echo "window destroyed: ok"
