#!/usr/bin/env bash
# CPU time per displayed frame of the Linux viewer (kestravu) and of the Windows program
# (KESTRAVU.exe under Wine), measured one after the other in the same run, on the same virtual
# X display (Xvfb: real X drawing, not Qt's offscreen platform), each on the simulated device
# playing the same looped test-pattern stream at 60 frames a second. Prints each program's CPU
# time per frame and share of one core, and the ratio of the two.
#
# What is counted, over a window of KESTRAVU_BENCH_SECONDS (default 20) that starts 3 s after
# the program's window appears, so that start-up is left out:
# - CPU time: utime + stime from /proc/PID/stat, all threads of the program's own process and
#   of any children: kestravu; for the Windows program the Wine process that runs it, which
#   Wine names KESTRAVU.exe (found by that name, among the processes that carry this run's
#   device log in their environment). The simulated device is a library inside that process,
#   so its work, its log line included, is counted alike on both sides.
#   Printed apart and left out of the ratio: Wine's own processes of the prefix (wineserver,
#   explorer.exe, services.exe, ...), which a Windows program needs under Wine, and the X
#   server, which draws for both.
# - Frames displayed: the simulated device logs every read with the bytes it delivered
#   (KESTRAVU_SIM_LOG). Bytes delivered in the window, divided by the stream's mean bytes per
#   frame, are the frames the program took; it reads only as far as it decodes (a read buffer
#   of 256 bytes) and shows every frame it decodes, so these are the frames it displayed, to
#   within one. The stream is 60 frames looped, so a window of whole seconds covers whole
#   loops but for the frame in progress at each end; a key frame straddling an end skews the
#   count by at most 4 frames (0.3 % at 20 s).
# Both programs run with their default settings (read size 32) and the default frame timer.
#
# KESTRAVU_NATIVE_BUILD and KESTRAVU_WINDOWS_BUILD name other build folders for the presets
# (default build/native and build/windows). Wine runs in its own prefix, build/wineprefix-bench
# (or $WINEPREFIX), so that no other Wine program's work shows in wineserver's time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/bench-lib.sh"
native_build=${KESTRAVU_NATIVE_BUILD:-$root/build/native}
windows_build=${KESTRAVU_WINDOWS_BUILD:-$root/build/windows}
seconds=${KESTRAVU_BENCH_SECONDS:-20}

# ---- Second stage, on the virtual display --------------------------------------------------

tree_of() {  # PID: the process and its descendants
  local child
  echo "$1"
  for child in $(pgrep -P "$1"); do tree_of "$child"; done
}

process_tree() { tree_of "$1" | tr '\n' ' '; }  # PID

environment_has() {  # PID NAME=VALUE
  tr '\0' '\n' <"/proc/$1/environ" 2>/dev/null | grep -qxF "$2"
}

wine_helpers() {  # Wine's own processes of this prefix, not the program
  local pid
  for pid in $(ps -eo pid=,comm= | awk '$2 ~ /^wineserver|\.exe$/ && $2 != "KESTRAVU.exe" {print $1}'); do
    environment_has "$pid" "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}

windows_path() { echo "Z:${1//\//\\}"; }

# The Wine process running the program started with device log LOG (a Windows path).
program_pid() {  # LOG
  local pid
  for pid in $(pgrep -x KESTRAVU.exe); do
    environment_has "$pid" "KESTRAVU_SIM_LOG=$1" && echo "$pid"
  done
}

# Measures the program whose processes COMMAND ARGS... prints, logging to LOG; prints
# "frames cpu_ticks helper_ticks x_ticks elapsed_seconds".
measure() {  # LOG COMMAND ARGS...
  local log=$1 pids helpers pid_now first last start end cpu helper_cpu x_cpu
  shift
  sleep 3
  pids=$("$@")
  helpers=$(wine_helpers | tr '\n' ' ')
  first=$(bench_log_lines "$log")
  cpu=$(bench_ticks "$pids")
  helper_cpu=$(bench_ticks "$helpers")
  x_cpu=$(bench_ticks "$x_server")
  start=$(date +%s.%N)
  sleep "$seconds"
  pid_now=$("$@")
  [ "$pid_now" = "$pids" ] || { echo "bench: the program ended or forked during the window" >&2; return 1; }
  last=$(bench_log_lines "$log")
  cpu=$(($(bench_ticks "$pids") - cpu))
  helper_cpu=$(($(bench_ticks "$helpers") - helper_cpu))
  x_cpu=$(($(bench_ticks "$x_server") - x_cpu))
  end=$(date +%s.%N)
  awk -v bytes="$(bench_bytes_delivered "$log" "$first" "$last")" -v frame="$stream_frame_bytes" \
      -v c="$cpu" -v h="$helper_cpu" -v x="$x_cpu" -v s="$start" -v e="$end" \
      'BEGIN {printf "%.1f %d %d %d %.3f\n", bytes / frame, c, h, x, e - s}'
}

if [ "${1:-}" = "--on-virtual-display" ]; then
  work=$2
  stream=$work/pattern.stream
  stream_frame_bytes=$3
  x_server=$4
  cd "$work"
  bench_start_viewer "$native_build" "$work" "$stream" "$work/native.log"
  viewer=$!
  window=$(bench_wait_window) || { kill "$viewer"; exit 1; }
  native=$(measure "$work/native.log" process_tree "$viewer") || { kill "$viewer"; exit 1; }
  xdotool windowfocus --sync "$window" key alt+f q
  wait "$viewer" || true

  KESTRAVU_SIM_STREAM=$(windows_path "$stream") KESTRAVU_SIM_LOOP=1 \
    KESTRAVU_SIM_FPS=$bench_frames_per_second KESTRAVU_SIM_LOG=$(windows_path "$work/windows.log") \
    wine KESTRAVU.exe 2>/dev/null &
  viewer=$!
  window=$(bench_wait_window) || { kill "$viewer"; exit 1; }
  windows=$(measure "$work/windows.log" program_pid "$(windows_path "$work/windows.log")") ||
    { kill "$viewer"; exit 1; }
  xdotool windowfocus --sync "$window" key F10 Down Return
  wait "$viewer" || true
  wineserver -w

  awk -v n="$native" -v w="$windows" -v hz="$(getconf CLK_TCK)" -v fps="$bench_frames_per_second" '
    function row(name, frames, ticks, elapsed) {
      printf "%-30s %7.0f %9.1f %9.0f %10.3f %8.2f %%\n", name, frames, frames / elapsed,
             ticks * 1000 / hz, ticks * 1000 / hz / frames, ticks / hz / elapsed * 100
    }
    BEGIN {
      split(n, a, " "); split(w, b, " ")
      printf "%-30s %7s %9s %9s %10s %10s\n", "", "frames", "frames/s", "CPU ms", "ms/frame", "of a core"
      row("kestravu", a[1], a[2], a[5])
      row("KESTRAVU.exe under Wine", b[1], b[2], b[5])
      printf "%-30s %7s %9s %9.0f %10.3f %8.2f %%\n", "  Wine'\''s own processes", "", "",
             b[3] * 1000 / hz, b[3] * 1000 / hz / b[1], b[3] / hz / b[5] * 100
      printf "%-30s %7s %9s %9.0f %10.3f %8.2f %%\n", "  X server, kestravu run", "", "",
             a[4] * 1000 / hz, a[4] * 1000 / hz / a[1], a[4] / hz / a[5] * 100
      printf "%-30s %7s %9s %9.0f %10.3f %8.2f %%\n", "  X server, Wine run", "", "",
             b[4] * 1000 / hz, b[4] * 1000 / hz / b[1], b[4] / hz / b[5] * 100
      native = a[2] / a[1]; windows = b[2] / b[1]; share = a[2] / hz / a[5] * 100
      printf "\nCPU per frame, kestravu / KESTRAVU.exe: %.2f (target at most 0.33: %s)\n",
             native / windows, native / windows <= 1 / 3 ? "met" : "NOT met"
      printf "kestravu at %d frames/s: %.2f %% of one core (target under 2 %%: %s)\n", fps, share,
             share < 2 ? "met" : "NOT met"
    }'
  exit 0
fi

# ---- First stage: build, write the stream, start the virtual display -----------------------

cd "$root"
bash scripts/setup.sh
bench_build_native "$native_build"
cmake --preset windows -B "$windows_build" >/dev/null
cmake --build "$windows_build" --target KESTRAVU device_sim >/dev/null
work=$(mktemp -d /tmp/kestravu-bench.XXXXXX)
# The stand-in device library goes beside a copy of the program, never into the build output.
cp "$windows_build/app/win32/KESTRAVU.exe" "$windows_build/sim/FTD2XX.dll" "$work/"
stream_frame_bytes=$(bench_write_stream "$native_build" "$work/pattern.stream")
echo "bench: $seconds s per program at $bench_frames_per_second frames/s, the test pattern" \
     "($bench_stream_frames frames, $stream_frame_bytes bytes a frame) looped; work folder $work"
trap bench_stop_display EXIT
bench_start_display "$work"
# With a display there, scripts/with-display.sh only prepares Wine.
export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix-bench} KESTRAVU_NATIVE_BUILD=$native_build
scripts/with-display.sh "$root/scripts/bench-cpu.sh" --on-virtual-display "$work" \
  "$stream_frame_bytes" "$bench_xvfb_pid"
