#!/usr/bin/env bash
# The real viewer under a virtual display: the window and its title, the log
# beside the program, closing through the window manager, the settings file
# in the starting directory.
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/lib.sh"
e2e_under_xvfb "$@"

start=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$start"' EXIT
# a log left by an earlier run: the start must clear it
printf '[2000/01/01 00:00:00.000] earlier run\r\n' > "$build/DEBUG.TXT"
cd "$start"
"$build/qevtest" &
pid=$!

wid=$(wait_window "QEV") || fail "no window appeared"
title=$(xprop -id "$wid" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p')
expected='QEVテスト v0.92 ([F1]LoadPMD [F2]LoadVPD [F3]LoadVMD [F4]CalcIK   [F5]DrawType [S]Shading [F6]DrawBone [F7]DrawRigid [F8]CalcBullet   [F9]SaveXSkin [F10]SaveXMesh [V]SaveVideo   [F11]Camera   [SPC]ResetBullet)'
[ "$title" = "$expected" ] || fail "title is '$title'"
geometry=$(xdotool getwindowgeometry "$wid")
echo "$geometry" | grep -q "Geometry: 1280x800" || fail "client area: $geometry"
# centred on the 1920 x 1080 screen
echo "$geometry" | grep -q "Position: 320,140" || fail "not centred: $geometry"

head -n1 "$build/DEBUG.TXT" | grep -qaP '^\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] << Log Clear >>\r$' \
  || fail "DEBUG.TXT does not start with the clear line"
! grep -qa "earlier run" "$build/DEBUG.TXT" || fail "DEBUG.TXT still holds the earlier run"

sleep 1  # let a few frames run
"$build/tests/wm_close" "$wid"
wait_exit "$pid" || fail "the viewer did not end after the close request"
[ "$STATUS" = 0 ] || fail "exit status $STATUS"
grep -qa "WM_QUIT" "$build/DEBUG.TXT" || fail "WM_QUIT not logged"

# BOM, then [QEVTest] and the four keys, empty, in UTF-16LE with CR LF
expected_ini=$(printf '\xff\xfe' | od -An -tx1 | tr -d ' \n')$(printf '[QEVTest]\r\nPMDFILE=\r\nVPDFILE=\r\nVMDFILE=\r\nCAMERAFILE=\r\n\r\n' | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 | tr -d ' \n')
actual_ini=$(od -An -tx1 "$start/QEVTest.ini" | tr -d ' \n')
[ "$actual_ini" = "$expected_ini" ] || fail "QEVTest.ini holds $actual_ini"
[ ! -e "$build/QEVTest.ini" ] || [ "$build" = "$start" ] || fail "settings written beside the program"
echo "window shell: ok"
