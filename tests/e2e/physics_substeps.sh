#!/usr/bin/env bash
# The physics sub-step count of QEVTest.ini in the real viewer: a bad value
# is logged at start-up and written back at shutdown as the count used.
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/lib.sh"
e2e_under_xvfb "$@"

start=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$start"' EXIT
utf16() { { printf '\xff\xfe'; printf "$1" | iconv -f UTF-8 -t UTF-16LE; } }
utf16 '[QEVTest]\r\nPHYSICSSUBSTEPS=0\r\n' > "$start/QEVTest.ini"
cd "$start"
"$build/qevtest" &
pid=$!

wid=$(wait_window "QEV") || fail "no window appeared"
sleep 1  # let a few frames run
grep -qa "QEVTest.ini: PHYSICSSUBSTEPS=0 is not a whole number from 1 to 16; 4 sub-steps are used" \
  "$build/DEBUG.TXT" || fail "the bad value is not in DEBUG.TXT"
"$build/tests/wm_close" "$wid"
wait_exit "$pid" || fail "the viewer did not end after the close request"
[ "$STATUS" = 0 ] || fail "exit status $STATUS"

expected_ini=$(utf16 '[QEVTest]\r\nPHYSICSSUBSTEPS=4\r\nPMDFILE=\r\nVPDFILE=\r\nVMDFILE=\r\nCAMERAFILE=\r\n\r\n' | od -An -tx1 | tr -d ' \n')
actual_ini=$(od -An -tx1 "$start/QEVTest.ini" | tr -d ' \n')
[ "$actual_ini" = "$expected_ini" ] || fail "QEVTest.ini holds $actual_ini"
echo "physics sub-steps setting: ok"
