#!/usr/bin/env bash
# Latency of the Linux viewer's picture: from the link receiving a frame's last byte to the end
# of the paint that shows it, median and 99th percentile, on the simulated device sending the
# test pattern looped at the stream's byte rate (60 frames a second), offscreen, for
# KESTRAVU_BENCH_SECONDS (default 20) after 3 s of start-up.
#
# The viewer writes its own timing trace when KESTRAVU_TRACE names a file: a "painted" line per
# paint with the time it ended and the time the newest frame's last byte was received (both on
# the steady clock, in microseconds). A paint that shows the same frame as the one before (a
# window expose) is not counted. KESTRAVU_NATIVE_BUILD names another build folder (default
# build/native).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRAVU_NATIVE_BUILD:-$root/build/native}
seconds=${KESTRAVU_BENCH_SECONDS:-20}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$build/tools/stream/kestravu-stream" pattern -o "$scratch/pattern.kvs" --frames 60 >/dev/null
rate=$(stat -c %s "$scratch/pattern.kvs")  # 60 frames: one second of the stream
mkdir -p "$scratch/config"
XDG_CONFIG_HOME=$scratch/config HOME=$scratch QT_QPA_PLATFORM=offscreen \
  LD_LIBRARY_PATH=$build/sim KESTRAVU_SIM_STREAM=$scratch/pattern.kvs KESTRAVU_SIM_LOOP=1 \
  KESTRAVU_SIM_RATE=$rate KESTRAVU_TRACE=$scratch/trace.log \
  "$build/app/qt/kestravu" >"$scratch/viewer.log" 2>&1 &
viewer=$!
sleep $((seconds + 3))
kill -TERM "$viewer"
wait "$viewer" || true

start=$(awk '/^painted / {print $2; exit}' "$scratch/trace.log")
awk -v from=$((start + 3000000)) '
  $1 == "painted" && $2 >= from && $3 > 0 && $3 != last { print ($2 - $3) / 1000; last = $3 }
' "$scratch/trace.log" | sort -n >"$scratch/latency.txt"
count=$(wc -l <"$scratch/latency.txt")
[ "$count" -gt 0 ] || { echo "no frames painted: $(cat "$scratch/viewer.log")"; exit 1; }
awk -v n="$count" -v rate="$rate" -v seconds="$seconds" '
  { v[NR] = $1 }
  END {
    p99 = int(n * 0.99 + 0.5)
    if (p99 < 1) p99 = 1
    printf "frames painted: %d in %d s (stream at %d bytes/s)\n", n, seconds, rate
    printf "last byte received to paint end: median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n",
           v[int((n + 1) / 2)], v[p99], v[n]
  }' "$scratch/latency.txt"
