#!/usr/bin/env bash
# The real viewer playing the sample walk with music of our own through SDL's
# disk audio driver (no sound card needed: what the device is handed goes to
# a file). The timeline shows along the bottom (its bar: played part, a
# six-pixel knob, the rest), the music reaches the driver, Return pauses
# the picture and the music together and plays them again, and F12 hides the
# timeline. Without a sound device the log says so and the walk plays on.
# A bad --audio-offset is refused before anything starts.
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/lib.sh"
e2e_under_xvfb "$@"

[ -f "$build/sample/sample.pmd" ] && [ -f "$build/sample/walk.vmd" ] || fail "the build wrote no sample character"
start=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$start"' EXIT

# Little-endian fields of the WAV header.
le16() { printf "$(printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)))"; }
le32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"; }
# Four seconds of a 2 kHz square wave, 8000 frames a second, mono, 16 bits.
{
  printf 'RIFF'; le32 $((36 + 64000)); printf 'WAVEfmt '; le32 16
  le16 1; le16 1; le32 8000; le32 16000; le16 2; le16 16
  printf 'data'; le32 64000
  printf '\x00\x10\x00\x10\x00\xf0\x00\xf0%.0s' $(seq 1 8000)
} > "$start/music.wav"
[ "$(stat -c %s "$start/music.wav")" -eq 64044 ] || fail "the music file came out $(stat -c %s "$start/music.wav") bytes long"

cd "$start"
# A bad offset is bad usage: said on stderr, exit 2, and no settings file.
status=0
"$build/qevtest" --audio-offset soon 2>"$start/usage" || status=$?
[ "$status" -eq 2 ] || fail "--audio-offset soon ended with $status, not 2"
grep -q "^qevtest: --audio-offset takes a whole number of frames" "$start/usage" || fail "no usage message: $(cat "$start/usage")"
[ ! -e "$start/QEVTest.ini" ] || fail "bad usage wrote a settings file"

SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$start/heard.raw" \
  "$build/qevtest" "$build/sample/sample.pmd" "$build/sample/walk.vmd" "$start/music.wav" 2>"$start/stderr" &
pid=$!
wid=$(wait_window "QEV") || fail "no window appeared"

# Bytes of sound (not silence) the driver has been handed so far.
heard() { tr -d '\000' < "$start/heard.raw" | wc -c; }
# The colours of the bar's middle row (x 12 to 1267), as "count colour"
# lines; with a second argument, of the row's pixels from x $2 to x $3.
bar_colours() {
  local from=${2:-12} to=${3:-1267}
  convert "$1" -crop "$((to - from + 1))x1+$from+783" +repage txt:- |
    sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | sort | uniq -c
}

# the loads, then some frames with the music (a busy machine may take a while)
for _ in $(seq 1 60); do
  [ -f "$start/heard.raw" ] && [ "$(heard)" -gt 1000 ] && break
  sleep 0.5
done
[ -f "$start/heard.raw" ] || fail "the disk audio driver wrote nothing: $(cat "$start/stderr")"
[ "$(heard)" -gt 1000 ] || fail "no music reached the sound device"

press Return  # paused
sleep 0.5     # what the device was handed before the pause has been written
import -window "$wid" "$start/paused1.png"
quiet=$(heard)
sleep 1
import -window "$wid" "$start/paused2.png"
[ "$(heard)" -eq "$quiet" ] || fail "music went on while paused ($quiet bytes, then $(heard))"
still=$(compare -metric AE "$start/paused1.png" "$start/paused2.png" null: 2>&1 || true)
[ "${still%%.*}" -eq 0 ] 2>/dev/null || fail "the picture moved while paused: $still pixels differ a second apart"

# the knob sticks out 3 pixels past the bar's ends at frame 0 and the last
colours=$(bar_colours "$start/paused1.png")
knob=$(bar_colours "$start/paused1.png" 9 1270 | awk '$2 == "FFFFFF" { print $1 }')
[ "${knob:-0}" -eq 6 ] || fail "the bar's knob is ${knob:-0} pixels wide, not 6: $colours"
others=$(echo "$colours" | awk '$2 != "FFFFFF" && $2 != "3C8CFF" && $2 != "505050" { n += $1 } END { print n + 0 }')
[ "$others" -eq 0 ] || fail "the bar holds other colours than played, knob and track: $colours"

press Return  # playing again, the music with it
sleep 1
[ "$(heard)" -gt "$quiet" ] || fail "the music did not play on after the pause"
import -window "$wid" "$start/playing.png"
moved=$(compare -metric AE "$start/paused2.png" "$start/playing.png" null: 2>&1 || true)
[ "${moved%%.*}" -gt 500 ] 2>/dev/null || fail "the walk did not go on after the pause: $moved pixels differ"

press F12
import -window "$wid" "$start/hidden.png"
bar=$(bar_colours "$start/hidden.png" | awk '$2 == "3C8CFF" || $2 == "505050" { n += $1 } END { print n + 0 }')
[ "$bar" -eq 0 ] || fail "F12 left $bar pixels of the bar"

"$build/tests/wm_close" "$wid"
wait_exit "$pid" || fail "the viewer did not end after the close request"

# Without a sound device the log says so once and the walk plays on, silent,
# on the wall clock.
SDL_AUDIODRIVER=no-such-driver \
  "$build/qevtest" "$build/sample/sample.pmd" "$build/sample/walk.vmd" "$start/music.wav" 2>"$start/stderr" &
pid=$!
wid=$(wait_window "QEV") || fail "no window appeared without a sound device"
sleep 2
import -window "$wid" "$start/silent1.png"
sleep 1
import -window "$wid" "$start/silent2.png"
moved=$(compare -metric AE "$start/silent1.png" "$start/silent2.png" null: 2>&1 || true)
[ "${moved%%.*}" -gt 500 ] 2>/dev/null || fail "without a sound device the walk does not play: $moved pixels differ"
"$build/tests/wm_close" "$wid"
wait_exit "$pid" || fail "the viewer did not end after the close request"
told=$(grep -c "] no sound device (.*): music is not heard, playback keeps the wall clock" "$build/DEBUG.TXT" || true)
[ "$told" -eq 1 ] || fail "the log told of no sound device $told times: $(grep -a "sound" "$build/DEBUG.TXT")"
echo "player: ok"
