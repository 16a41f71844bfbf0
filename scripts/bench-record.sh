#!/usr/bin/env bash
# What recording costs: CPU time per displayed frame of the Linux viewer (kestravu) with and
# without Record Stream, measured in one run of one process, on a virtual X display (Xvfb),
# with the simulated device playing the looped test pattern at 60 frames a second.
#
# The run alternates: a window without recording, one with (Ctrl+R pressed before it, with a
# second to settle), and the same again, so that a drift of the machine's load falls on both
# sides alike; each side gets KESTRAVU_BENCH_SECONDS (default 20) in all.
# - CPU time: utime + stime of the viewer's process from /proc/PID/stat, all its threads. The
#   simulated device is a library inside it, so its work (a log line per read) is counted on
#   both sides alike.
# - Frames displayed: the bytes the device delivered in the window (its log, KESTRAVU_SIM_LOG),
#   divided by the stream's mean bytes per frame; the viewer reads only as far as it decodes.
#   The log costs a write per read, far more than recording does; KESTRAVU_BENCH_LOG=0 runs
#   without it and counts the device's 60 frames a second instead (the run with the log shows
#   that the viewer keeps that pace).
# At the end it checks that the recording holds the bytes delivered while recording (to within
# the moment a key press arrives; the tests check it byte for byte).
#
# KESTRAVU_NATIVE_BUILD names the build folder (default build/native); the script configures
# it with the native preset and builds kestravu, device_sim and kestravu-stream there.
# Needs Xvfb and xdotool (scripts/setup.sh installs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRAVU_NATIVE_BUILD:-$root/build/native}
seconds=${KESTRAVU_BENCH_SECONDS:-20}
half=$((seconds / 2))
with_log=${KESTRAVU_BENCH_LOG:-1}
frames_per_second=60

cd "$root"
cmake --preset native -B "$build" >/dev/null
cmake --build "$build" -j2 --target kestravu device_sim kestravu-stream >/dev/null

work=$(mktemp -d /tmp/kestravu-bench-record.XXXXXX)
xvfb_pid=""
viewer_pid=""
cleanup() {
  [ -z "$viewer_pid" ] || kill "$viewer_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

"$build/tools/stream/kestravu-stream" pattern -o "$work/pattern.stream" --frames 60 >/dev/null
frame_bytes=$(awk -v size="$(stat -c %s "$work/pattern.stream")" 'BEGIN {printf "%.3f", size / 60}')

exec {display_fd}>"$work/display"
Xvfb -displayfd "$display_fd" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

log=$work/device.log
touch "$log"
[ "$with_log" = 0 ] && device_log="" || device_log=$log
HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work LD_LIBRARY_PATH=$build/sim \
  KESTRAVU_SIM_STREAM=$work/pattern.stream KESTRAVU_SIM_LOOP=1 KESTRAVU_SIM_FPS=$frames_per_second \
  KESTRAVU_SIM_LOG=$device_log QT_QPA_PLATFORM=xcb "$build/app/qt/kestravu" 2>/dev/null &
viewer_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^KESTRAVU' | head -n1)
[ -n "$window" ] || { echo "bench-record: the viewer's window did not appear" >&2; exit 1; }

ticks() { cut -d')' -f2- "/proc/$viewer_pid/stat" | awk '{print $12 + $13}'; }
lines() { wc -l <"$log"; }
bytes_between() {  # FIRST LAST: bytes the device delivered in log lines FIRST+1 ... LAST
  if [ "$with_log" = 0 ]; then
    awk -v frame="$frame_bytes" -v n="$((half * frames_per_second))" 'BEGIN {printf "%d", frame * n}'
    return
  fi
  head -n "$2" "$log" | tail -n +"$(($1 + 1))" |
    awk -F'received=' '/^FT_Read /{sum += $2} END {print sum + 0}'
}
press() { xdotool windowfocus --sync "$window" key "$@"; }

# Adds one window of $half seconds to the totals of side $1 (plain or recording).
declare -A cpu=([plain]=0 [recording]=0) bytes=([plain]=0 [recording]=0)
measure() {
  local side=$1 first_ticks first_line
  first_ticks=$(ticks) first_line=$(lines)
  sleep "$half"
  cpu[$side]=$((cpu[$side] + $(ticks) - first_ticks))
  bytes[$side]=$((bytes[$side] + $(bytes_between "$first_line" "$(lines)")))
}

sleep 3  # start-up left out
recorded_from=0
for round in 1 2; do
  measure plain
  press ctrl+r
  [ "$round" = 1 ] && recorded_from=$(lines)
  sleep 1
  measure recording
  press ctrl+r
  [ "$round" = 1 ] && recorded_to=$(lines)
  sleep 1
done
press ctrl+q
wait "$viewer_pid" || { echo "bench-record: the viewer failed" >&2; exit 1; }
viewer_pid=""

# A key press reaches the viewer a little after xdotool returns, so the log lines counted at
# the presses bound the recording only to within a few reads.
recording=$(ls "$work"/home/Videos/kestravu-*.kvs | head -n1)
expected=$(bytes_between "$recorded_from" "$recorded_to")
[ "$with_log" = 0 ] || awk -v got="$(stat -c %s "$recording")" -v expected="$expected" -v frame="$frame_bytes" 'BEGIN {
  if (got < expected - 2 * frame || got > expected + 2 * frame) {
    printf "bench-record: the first recording holds %d bytes, the device delivered %d meanwhile\n",
           got, expected > "/dev/stderr"
    exit 1
  }
}'

awk -v hz="$(getconf CLK_TCK)" -v frame="$frame_bytes" -v s="$seconds" \
    -v pc="${cpu[plain]}" -v pb="${bytes[plain]}" -v rc="${cpu[recording]}" -v rb="${bytes[recording]}" '
  function row(name, ticks, bytes) {
    printf "%-18s %7.0f %9.1f %9.0f %10.4f %8.2f %%\n", name, bytes / frame, bytes / frame / s,
           ticks * 1000 / hz, ticks * 1000 / hz / (bytes / frame), ticks / hz / s * 100
  }
  BEGIN {
    printf "%-18s %7s %9s %9s %10s %10s\n", "", "frames", "frames/s", "CPU ms", "ms/frame", "of a core"
    row("without recording", pc, pb)
    row("recording", rc, rb)
    plain = pc * 1000 / hz / (pb / frame); recording = rc * 1000 / hz / (rb / frame)
    printf "\nrecording adds %.4f ms of CPU per frame (%+.1f %%); %.0f KB a second written\n",
           recording - plain, (recording / plain - 1) * 100, rb / s / 1000
  }'
echo "bench-record: $seconds s each way, clock ticks of $((1000 / $(getconf CLK_TCK))) ms; work folder $work"
