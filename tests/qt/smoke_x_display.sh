#!/usr/bin/env bash
# kestravu on a virtual X display, driven with real key presses: it starts with the simulated
# device, the Mode menu opened with the keyboard switches Wide (the window grows to twice the
# picture), Ctrl+R twice records a second of the stream into $HOME/Videos, Ctrl+S saves the
# picture into $HOME/Pictures, File > Quit ends it with exit code 0, and Wide is kept in the
# settings file under $XDG_CONFIG_HOME. Then once more on a dead input, a device that sends only
# zero bytes at its real rate: the window still answers, and Quit ends it within 2 s. Then a
# run on a known looped stream, killed (SIGKILL) two seconds after Ctrl+R: the recording holds
# every byte the device delivered up to the last read before the kill, although the program
# never got to close it.
# Usage: smoke_x_display.sh KESTRAVU SIM_LIBRARY_DIR KESTRAVU_STREAM
set -uo pipefail
program=$1
sim_dir=$2
stream_tool=$3
scratch=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
  [ -z "$program_pid" ] || kill "$program_pid" 2>/dev/null
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A display of its own, whichever number is free; Xvfb names the one it took.
exec {display_fd}>"$scratch/display"
Xvfb -displayfd "$display_fd" -screen 0 1280x1024x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
[ -s "$scratch/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$scratch/display")"

# start NAME=VALUE...: the program with those variables for the simulated device; sets $window.
start() {
  env HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch" \
    LD_LIBRARY_PATH="$sim_dir" QT_QPA_PLATFORM=xcb "$@" "$program" >"$scratch/program.log" 2>&1 &
  program_pid=$!
  window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$program_pid" --name '^KESTRAVU' |
    head -n1)
  [ -n "$window" ] || fail "no window"
}
width_of() { xdotool getwindowgeometry --shell "$window" | sed -n 's/^WIDTH=//p'; }
# Without a window manager, focus is given directly; the open menu then has the keyboard.
choose() {
  xdotool windowfocus --sync "$window"
  xdotool key "$1"
  sleep 0.3
  xdotool key "$2"
}

# quit SECONDS: File > Quit must end the program with exit code 0 within that time.
quit() {
  choose alt+f q
  local start_ns
  start_ns=$(date +%s%N)
  for _ in $(seq $(($1 * 20))); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$program_pid" 2>/dev/null && fail "still running $1 s after File > Quit"
  echo "File > Quit ended the program after $((($(date +%s%N) - start_ns) / 1000000)) ms"
  wait "$program_pid"
  local status=$?
  program_pid=""
  [ "$status" = 0 ] || fail "exit code $status: $(cat "$scratch/program.log")"
}

start
normal_width=$(width_of)
[ "$normal_width" = 426 ] || fail "window $normal_width wide, not 426"
choose alt+m w
for _ in $(seq 30); do [ "$(width_of)" = 852 ] && break; sleep 0.1; done
[ "$(width_of)" = 852 ] || fail "after Mode > Wide the window is $(width_of) wide, not 852"
xdotool windowfocus --sync "$window" key ctrl+r
sleep 1
xdotool windowfocus --sync "$window" key ctrl+r ctrl+s
quit 5
grep -qx 'wide=1' "$scratch/config/kestravu/KESTRAVU.ini" || fail "wide=1 not saved"
recordings=("$scratch"/home/Videos/kestravu-*.kvs)
[ ${#recordings[@]} = 1 ] && [ -s "${recordings[0]}" ] || fail "no recording in \$HOME/Videos"
pictures=("$scratch"/home/Pictures/kestravu-*.png)
[ ${#pictures[@]} = 1 ] && [ -s "${pictures[0]}" ] || fail "no picture in \$HOME/Pictures"

# The dead input: no frame ever comes, about 110 KB a second, and Wide switched off is saved.
head -c 65536 /dev/zero >"$scratch/zeros.kvs"
start KESTRAVU_SIM_STREAM="$scratch/zeros.kvs" KESTRAVU_SIM_LOOP=1 KESTRAVU_SIM_RATE=110000
sleep 2
choose alt+m w
for _ in $(seq 60); do [ "$(width_of)" = 426 ] && break; sleep 0.1; done
[ "$(width_of)" = 426 ] || fail "on the dead input Mode > Wide left the window $(width_of) wide"
quit 2
grep -qx 'wide=0' "$scratch/config/kestravu/KESTRAVU.ini" || fail "wide=0 not saved on the dead input"

rm -r "$scratch/home/Videos"
"$stream_tool" pattern -o "$scratch/pattern.kvs" --frames 60 >/dev/null || fail "no stream"
log=$scratch/device.log
start KESTRAVU_SIM_STREAM="$scratch/pattern.kvs" KESTRAVU_SIM_LOOP=1 KESTRAVU_SIM_LOG="$log"
xdotool windowfocus --sync "$window" key ctrl+r
sleep 2
{ kill -KILL "$program_pid" && wait "$program_pid"; } 2>/dev/null
program_pid=""
recordings=("$scratch"/home/Videos/kestravu-*.kvs)
[ ${#recordings[@]} = 1 ] || fail "no recording of the killed run"
size=$(stat -c %s "${recordings[0]}")
read -r delivered last_read < <(awk -f "$(dirname "$0")/../support/delivered_bytes.awk" "$log")
[ "$size" -gt 100000 ] || fail "the killed run's recording holds only $size bytes"
while [ "$(stat -c %s "$scratch/looped.kvs" 2>/dev/null || echo 0)" -lt "$delivered" ]; do
  cat "$scratch/pattern.kvs" >>"$scratch/looped.kvs"
done
ends_at() {  # whether the recording is the bytes of the looped stream that end at byte $1
  cmp -s -n "$size" -i $(($1 - size)):0 "$scratch/looped.kvs" "${recordings[0]}"
}
# The kill may fall between the device's log line for a read and the program's write of it.
ends_at "$delivered" || ends_at $((delivered - last_read)) ||
  fail "the killed run's recording ($size bytes) is not the last bytes of the $delivered delivered"
echo "smoke test passed"
