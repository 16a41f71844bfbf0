#!/usr/bin/env bash
# The emulated chip plugged in again and two chips at once, through the real Linux USB stack in
# the machine of scripts/usb-vm.sh, seen by the link the viewer uses (libftdi1 and libusb, through
# usb_device_probe). Cases, on one machine, after one another:
#   two chips    chips with different serial numbers and streams: the list gives both, a read by
#                serial number gets the stream of the chip it names, and the other chip is never
#                opened;
#   replug       a chip unplugged mid-stream comes back 2 s later under the same serial number,
#                the device watch (libusb's hotplug events, from udev) reports both events, and
#                it is read again; the chip's sent bytes go on after the unplug.
# Usage: replug_tests.sh BUILD_DIR. Logs stay in BUILD_DIR/usb-tests/replug/.
set -uo pipefail
build=$1
chip=$build/sim/usb-chip
probe=$build/tests/usb_device_probe
out=$build/usb-tests/replug
rm -rf "$out" && mkdir -p "$out"
work=$(mktemp -d)
trap 'cp -r "$work"/. "$out"/' EXIT
unset LD_LIBRARY_PATH
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}
# The sysfs folder of the attached device with this serial number.
device_with_serial() {
  local serial
  for serial in /sys/bus/usb/devices/*/serial; do
    [ "$(cat "$serial" 2>/dev/null)" = "$1" ] && { dirname "$serial"; return; }
  done
  return 1
}
has_driver() { local device; device=$(device_with_serial "$1") && [ -e "$device/${device##*/}:1.0/driver" ]; }
gone() { ! device_with_serial "$1" >/dev/null; }
# The chip's sent bytes from its last reset on begin with the file given.
read_matches_sent() {
  local log=$1 sent=$2 got=$3 mark
  mark=$(sed -n 's/^request RESET value=0x0000 index=1 sent=\([0-9]*\).*/\1/p' "$log" | tail -n1)
  [ -n "$mark" ] && [ -s "$got" ] && cmp -s "$got" <(tail -c +$((mark + 1)) "$sent" | head -c "$(stat -c %s "$got")")
}

"$build/tools/stream/kestravu-stream" pattern -o "$work/pattern.kvs" --frames 300 >/dev/null

echo "== two chips"
"$chip" --serial KVA00001 --replug-after 2 --log "$work/a.log" --sent "$work/a-sent.bin" &
a_pid=$!
"$chip" --serial KVB00002 --stream "$work/pattern.kvs" --loop --log "$work/b.log" --sent "$work/b-sent.bin" &
b_pid=$!
wait_until 60 has_driver KVA00001 || fail "chip A did not come up: $(cat "$work/a.log")"
wait_until 60 has_driver KVB00002 || fail "chip B did not come up: $(cat "$work/b.log")"
listed=$("$probe" list | sort | tr '\n' ' ')
[ "$listed" = "KVA00001 KVB00002 " ] || fail "the list gives '$listed'"
timeout 60 "$probe" read KVB00002 20000 >"$work/b-read.bin" || fail "chip B could not be read by its serial number"
read_matches_sent "$work/b.log" "$work/b-sent.bin" "$work/b-read.bin" || fail "what was read is not chip B's stream"
grep -q '^request RESET .*index=1' "$work/a.log" && fail "reading chip B opened chip A"

echo "== replug"
# libusb hears of devices coming and going from udev, as on any desktop.
/lib/systemd/systemd-udevd --daemon >"$work/udevd.log" 2>&1 || fail "udevd did not start"
"$probe" watch 40 >"$work/watch.log" 2>&1 &
watch_pid=$!
sleep 3  # the watch is registered
kill -USR1 "$a_pid"
wait_until 30 gone KVA00001 || fail "chip A was not unplugged"
wait_until 60 has_driver KVA00001 || fail "chip A did not come back"
back=$(sed -n 's/^attached port=.* at \([0-9.]*\)$/\1/p' "$work/a.log" | tail -n1)
unplugged=$(sed -n 's/^unplugged at //p' "$work/a.log")
awk -v from="$unplugged" -v to="$back" 'BEGIN {printf "unplug to attach: %.2f s\n", to - from}'
timeout 60 "$probe" read KVA00001 20000 >"$work/a-read.bin" || fail "chip A could not be read after the replug"
read_matches_sent "$work/a.log" "$work/a-sent.bin" "$work/a-read.bin" || fail "what was read after the replug is not chip A's stream"
sleep 1
kill "$watch_pid" 2>/dev/null
wait "$watch_pid" 2>/dev/null
changes=$(grep -c '^changed' "$work/watch.log")
[ "$changes" -ge 2 ] || fail "the device watch reported $changes changes, not the unplug and the replug"
first_change=$(sed -n 's/^changed //p' "$work/watch.log" | awk -v after="$back" '$1 >= after - 0.5 {print; exit}')
[ -n "$first_change" ] && awk -v at="$back" -v seen="$first_change" 'BEGIN {printf "attach to the watch: %.2f s\n", seen - at}'

kill "$a_pid" "$b_pid"
wait "$a_pid" "$b_pid"
udevadm control --exit
echo "$failures failure(s)"
[ "$failures" = 0 ]
