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
source "$root/scripts/bench-lib.sh"
build=${KESTRAVU_NATIVE_BUILD:-$root/build/native}
seconds=${KESTRAVU_BENCH_SECONDS:-20}
half=$((seconds / 2))
with_log=${KESTRAVU_BENCH_LOG:-1}

cd "$root"
bench_build_native "$build"

work=$(mktemp -d /tmp/kestravu-bench-record.XXXXXX)
viewer_pid=""
cleanup() {
  [ -z "$viewer_pid" ] || kill "$viewer_pid" 2>/dev/null || true
  bench_stop_display
}
trap cleanup EXIT

frame_bytes=$(bench_write_stream "$build" "$work/pattern.stream")
bench_start_display "$work"

log=$work/device.log
touch "$log"
[ "$with_log" = 0 ] && device_log="" || device_log=$log
bench_start_viewer "$build" "$work" "$work/pattern.stream" "$device_log"
viewer_pid=$!
window=$(bench_wait_window)

lines() { bench_log_lines "$log"; }
bytes_between() {  # FIRST LAST: bytes the device delivered in log lines FIRST+1 ... LAST
  if [ "$with_log" = 0 ]; then
    awk -v frame="$frame_bytes" -v n="$((half * bench_frames_per_second))" 'BEGIN {printf "%d", frame * n}'
    return
  fi
  bench_bytes_delivered "$log" "$1" "$2"
}
press() { xdotool windowfocus --sync "$window" key "$@"; }

# Adds one window of $half seconds to the totals of side $1 (plain or recording).
declare -A cpu=([plain]=0 [recording]=0) bytes=([plain]=0 [recording]=0)
measure() {
  local side=$1 first_ticks first_line
  first_ticks=$(bench_ticks "$viewer_pid") first_line=$(lines)
  sleep "$half"
  cpu[$side]=$((cpu[$side] + $(bench_ticks "$viewer_pid") - first_ticks))
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
