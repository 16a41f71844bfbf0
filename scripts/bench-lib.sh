# shellcheck shell=bash
# The steps the CPU benchmarks share (bench-cpu.sh, bench-record.sh); sourced, not run.
# Each runs a viewer on the simulated device, which plays the looped test pattern at 60 frames
# a second on a virtual display of the benchmark's own, and counts the frames the viewer took
# from the bytes the device logged.
#   bench_build_native BUILD            configures BUILD (native preset), builds the viewer,
#                                       the simulated device and the stream tool
#   bench_write_stream BUILD STREAM     writes the stream; prints its mean bytes a frame
#   bench_start_display WORK            starts Xvfb, exports DISPLAY; bench_stop_display ends it
#   bench_start_viewer BUILD WORK STREAM LOG
#                                       starts kestravu in the background ($! is its PID)
#   bench_wait_window                   prints the id of the viewer's window once it shows
#   bench_ticks "PID..."                CPU time of the processes in clock ticks
#   bench_log_lines LOG                 lines in the device's log so far
#   bench_bytes_delivered LOG FIRST LAST
#                                       bytes delivered in lines FIRST+1 ... LAST of the log

bench_frames_per_second=60
bench_stream_frames=60  # one second of the device: its frame times repeat every loop
bench_xvfb_pid=""

bench_build_native() {  # BUILD
  cmake --preset native -B "$1" >/dev/null
  cmake --build "$1" --target kestravu device_sim kestravu-stream >/dev/null
}

bench_write_stream() {  # BUILD STREAM
  "$1/tools/stream/kestravu-stream" pattern -o "$2" --frames "$bench_stream_frames" >/dev/null
  awk -v size="$(stat -c %s "$2")" -v frames="$bench_stream_frames" \
    'BEGIN {printf "%.3f", size / frames}'
}

# A display of its own even where there is one, so that no other program's drawing is counted.
bench_start_display() {  # WORK
  local display_file=$1/display display_fd
  exec {display_fd}>"$display_file"
  Xvfb -displayfd "$display_fd" -screen 0 1280x1024x24 -nolisten tcp >"$1/xvfb.log" 2>&1 &
  bench_xvfb_pid=$!
  exec {display_fd}>&-
  for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
  [ -s "$display_file" ] || { echo "bench: the virtual display did not start" >&2; return 1; }
  DISPLAY=":$(head -n1 "$display_file")"
  export DISPLAY
}

bench_stop_display() {
  [ -z "$bench_xvfb_pid" ] || kill "$bench_xvfb_pid" 2>/dev/null || true
  bench_xvfb_pid=""
}

# Default settings and no recordings outside WORK; no device log when LOG is empty.
bench_start_viewer() {  # BUILD WORK STREAM LOG
  HOME=$2/home XDG_CONFIG_HOME=$2/config XDG_RUNTIME_DIR=$2 LD_LIBRARY_PATH=$1/sim \
    KESTRAVU_SIM_STREAM=$3 KESTRAVU_SIM_LOOP=1 KESTRAVU_SIM_FPS=$bench_frames_per_second \
    KESTRAVU_SIM_LOG=$4 QT_QPA_PLATFORM=xcb "$1/app/qt/kestravu" 2>/dev/null &
}

bench_wait_window() {
  local window
  for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --name '^KESTRAVU' 2>/dev/null | head -n1) || true
    [ -z "$window" ] || { echo "$window"; return; }
    sleep 0.1
  done
  echo "bench: the viewer's window did not appear" >&2
  return 1
}

# utime + stime from /proc/PID/stat, all threads; 0 for a process that has gone.
bench_ticks() {  # "PID PID..."
  local total=0 pid fields pids
  read -ra pids <<<"$1"
  for pid in "${pids[@]}"; do
    fields=$(cut -d')' -f2- "/proc/$pid/stat" 2>/dev/null) || continue
    total=$((total + $(awk '{print $12 + $13}' <<<"$fields")))
  done
  echo "$total"
}

# The device writes its log from its first driver call on (KESTRAVU_SIM_LOG, sim/sim_device.h).
bench_log_lines() {  # LOG
  if [ -f "$1" ]; then wc -l <"$1"; else echo 0; fi
}

bench_bytes_delivered() {  # LOG FIRST LAST
  local delivered _
  read -r delivered _ < <(head -n "$3" "$1" | tail -n +"$(($2 + 1))" |
    awk -f "$(dirname "${BASH_SOURCE[0]}")/../tests/support/delivered_bytes.awk")
  echo "$delivered"
}
