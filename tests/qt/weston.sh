#!/usr/bin/env bash
# Runs a command as a native Wayland client (Qt's wayland platform) of a Weston of its own:
# headless, drawn by the pixman renderer (the headless backend draws nothing without it), with
# the screenshooter allowed (--debug) and no user's weston.ini. Prints Weston's log when the
# command fails.
# Usage: weston.sh WIDTH HEIGHT SCALE COMMAND ARGS... (the output in logical pixels, and its scale)
set -uo pipefail
width=$1
height=$2
scale=$3
shift 3
# Wayland's runtime folder must be private (mode 0700, as mktemp makes it).
runtime=$(mktemp -d)
socket=kestravu-test
weston_pid=""
cleanup() {
  [ -z "$weston_pid" ] || kill "$weston_pid" 2>/dev/null
  [ -z "$weston_pid" ] || wait "$weston_pid" 2>/dev/null
  rm -rf "$runtime"
}
trap cleanup EXIT

XDG_RUNTIME_DIR=$runtime weston --no-config --backend=headless-backend.so --use-pixman \
  --width="$width" --height="$height" --scale="$scale" --socket="$socket" --debug \
  --log="$runtime/weston.log" >/dev/null 2>&1 &
weston_pid=$!
for _ in $(seq 300); do
  [ -S "$runtime/$socket" ] && break
  kill -0 "$weston_pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -S "$runtime/$socket" ]; then
  echo "FAIL: Weston did not start" >&2
  cat "$runtime/weston.log" >&2
  exit 1
fi

env -u DISPLAY XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland "$@"
status=$?
[ "$status" = 0 ] || cat "$runtime/weston.log" >&2
exit "$status"
