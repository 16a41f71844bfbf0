#!/usr/bin/env bash
# The viewer through the real Linux USB stack, inside the machine of scripts/usb-vm.sh: the
# emulated chip (usb-chip) on vhci-hcd, the kernel's ftdi_sio, libusb and libftdi1 (no
# libftd2xx.so on the library path). The real kestravu runs on a virtual X display, driven with
# key presses. Cases, one after the other on the same machine:
#   no device    only another FTDI board is attached: exit code 1 after the start-up message;
#   udev rule    udevadm test gives uaccess to the KESTRAVU device and not to the other board;
#   streaming    the viewer takes the KESTRAVU device (ftdi_sio let go of it, the other board
#                untouched; reset, bit mode reset and latency timer sent), records 20 s of the
#                test pattern at its real rate through a 256-byte chip buffer, changes the read
#                size in the dialog (a reopen) and saves a picture on the way, and ends with exit
#                code 0 when the device is unplugged: the chip dropped nothing while the viewer
#                read, the recording is byte for byte what the chip sent in each opening of the
#                device, to the last byte, and the settings are saved. On the way the picture is
#                compared with the chip (lag_probe): the bytes the decoder took against the end of
#                the last whole frame the chip sent, every 50 ms; the GUI thread alone is held up for 2 s, and the picture
#                must be within 50 ms (3 frames) of the chip 3 s after the window came up and
#                from 0.5 s after the hold-up ended;
#   plug and play  waiting for the device, a replug, and the choice of device (replug_tests.sh).
# Usage: usb_tests.sh BUILD_DIR SOURCE_DIR [VIEWER [LAG_PROBE [DEVICE_PROBE]]]
# Logs, the chip's sent bytes and the recording stay in BUILD_DIR/usb-tests/.
set -uo pipefail
build=$1
source=$2
viewer=${3:-$build/app/qt/kestravu}
probe=${4:-$build/tests/usb_lag_probe}
device_probe=${5:-$build/tests/usb_device_probe}
chip=$build/sim/usb-chip
out=$build/usb-tests
rm -rf "$out" && mkdir -p "$out"
home=$(mktemp -d)
# The run's files live in the guest's memory and are copied out at the end: writing them to the
# host's file share as they grow would make the chip and the viewer wait for the host.
work=$home/work
mkdir -p "$work"
trap 'cp -r "$work"/. "$out"/' EXIT
mkdir -p "$home/config" "$home/runtime" && chmod 700 "$home/runtime"
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/runtime QT_QPA_PLATFORM=xcb
unset LD_LIBRARY_PATH
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# Runs the command after the time-out until it succeeds, for up to that many seconds.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}
# The sysfs folder of the attached device with this product string.
device_named() {
  local product
  for product in /sys/bus/usb/devices/*/product; do
    [ "$(cat "$product")" = "$1" ] && { dirname "$product"; return; }
  done
}
has_driver() { local device; device=$(device_named "$1") && [ -e "$device/${device##*/}:1.0/driver" ]; }
bound_to_ftdi_sio() { [ "$(basename "$(readlink "$1/${1##*/}:1.0/driver")")" = ftdi_sio ]; }
# A visible window of the viewer's other than $1.
other_window() { xdotool search --onlyvisible --class kestravu | grep -vx "$1" | head -n1 | grep .; }
dialog_closed() { ! xdotool search --onlyvisible --class kestravu | grep -qx "$dialog"; }

# The recording must be, opening after opening of the device (each begins with a reset), the
# bytes the chip sent in it from the first on, without a gap; only what the link still held
# when the device was closed may be missing at an opening's end, and at the last one's end only
# what was on its way when the device was unplugged. Prints the figures.
compare_recording() {
  local log=$1 sent=$2 record=$3 marks position=0 i length=0 matched=0 result
  mapfile -t marks < <(sed -n 's/^request RESET value=0x0000 index=1 sent=\([0-9]*\).*/\1/p' "$log")
  marks+=("$(stat -c %s "$sent")")
  for ((i = 0; i + 1 < ${#marks[@]}; i++)); do
    length=$((marks[i + 1] - marks[i]))
    tail -c +$((marks[i] + 1)) "$sent" | head -c "$length" >"$work/opening.bin"
    tail -c +$((position + 1)) "$record" >"$work/rest.bin"
    result=$(cmp "$work/opening.bin" "$work/rest.bin" 2>&1)
    case $result in
      "" | *"EOF on $work/opening.bin"*) matched=$length ;;
      *"EOF on $work/rest.bin after byte "*) matched=$(sed 's/.* after byte \([0-9]*\).*/\1/' <<<"$result") ;;
      *" differ: "*) matched=$(($(sed 's/.* differ: [a-z]* \([0-9]*\).*/\1/' <<<"$result") - 1)) ;;
      *) matched=0 ;;
    esac
    echo "opening $((i + 1)): the chip sent $length bytes, the recording has the first $matched"
    [ "$length" -gt 0 ] && [ "$matched" -gt 0 ] || fail "opening $((i + 1)) is missing from the recording"
    position=$((position + matched))
  done
  rm -f "$work/opening.bin" "$work/rest.bin"
  # Transfers the chip finished as it was unplugged may not reach the viewer: at most the
  # link's 32 of 512 bytes.
  [ $((length - matched)) -le $((32 * 512)) ] || fail "the recording ends $((length - matched)) bytes before what the chip sent"
  [ "$position" = "$(stat -c %s "$record")" ] ||
    fail "the recording has bytes the chip did not send from byte $position on"
}

# The test pattern made beforehand, which leaves the guest's processor to the viewer.
"$build/tools/stream/kestravu-stream" pattern -o "$work/pattern.kvs" --frames 1200 >/dev/null

# The X server compiles its keymaps into a folder that is read-only here.
mount -t tmpfs tmpfs /var/lib/xkb
exec {display_fd}>"$home/display"
Xvfb -displayfd "$display_fd" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
wait_until 60 test -s "$home/display" || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n1 "$home/display")"

"$chip" --product OTHER --serial OT000001 --stop-at 0 --log "$work/other.log" &
other_pid=$!
wait_until 30 has_driver OTHER || { echo "FAIL: the other FTDI board did not come up: $(cat "$work/other.log")"; exit 1; }

echo "== no device"
"$viewer" >"$work/no-device.log" 2>&1 &
viewer_pid=$!
box=$(timeout 60 xdotool search --sync --onlyvisible --name '^エラー$' | head -n1)
[ -n "$box" ] || fail "no start-up message"
[ -z "$box" ] || xdotool windowfocus --sync "$box" key Return
timeout 30 tail --pid="$viewer_pid" -f /dev/null
kill -0 "$viewer_pid" 2>/dev/null && kill -9 "$viewer_pid"
wait "$viewer_pid"
status=$?
[ "$status" = 1 ] || fail "exit code $status without the device, not 1"

echo "== udev rule"
chrt -f 50 "$chip" --stream "$work/pattern.kvs" --loop --log "$work/chip.log" --sent "$work/sent.bin" &
chip_pid=$!
wait_until 30 has_driver KESTRAVU || { echo "FAIL: the emulated device did not come up: $(cat "$work/chip.log")"; exit 1; }
kestravu_device=$(device_named KESTRAVU)
other_device=$(device_named OTHER)
mount -t tmpfs tmpfs /etc/udev/rules.d
cp "$source"/packaging/*.rules /etc/udev/rules.d/
udevadm test "$kestravu_device" >"$work/udev-kestravu.log" 2>&1
udevadm test "$other_device" >"$work/udev-other.log" 2>&1
grep -Eq '^(CURRENT_)?TAGS=.*:uaccess:' "$work/udev-kestravu.log" || fail "udev gives no uaccess to the KESTRAVU device"
grep -Eq '^(CURRENT_)?TAGS=.*:uaccess:' "$work/udev-other.log" && fail "udev gives uaccess to the other FTDI board"

echo "== streaming"
# Everything the viewer will load, read once beforehand: the first page fault on a library over
# the host's file share stalls the guest longer than a real disk would stall a real machine.
ldd "$viewer" | awk '$3 ~ /^\// {print $3}' | xargs cat /usr/lib/x86_64-linux-gnu/qt6/plugins/*/*.so >/dev/null 2>&1
bound_to_ftdi_sio "$kestravu_device" || fail "ftdi_sio is not bound to the device before the viewer runs"
KESTRAVU_TRACE=$work/trace.log "$viewer" --record "$work/record.kvs" >"$work/viewer.log" 2>&1 &
viewer_pid=$!
wait_until 60 grep -q 'SET_LATENCY_TIMER .*index=1' "$work/chip.log" || fail "the viewer did not set the latency timer"
opened=$SECONDS
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^KESTRAVU' | head -n1)
# The stream's rate: the pattern's 1200 frames at 60 a second.
first_opening=$(sed -n 's/^request RESET value=0x0000 index=1 sent=\([0-9]*\).*/\1/p' "$work/chip.log" | head -n1)
"$probe" "$work/sent.bin" "$work/trace.log" "$viewer_pid" "${first_opening:-0}" \
  $(($(stat -c %s "$work/pattern.kvs") / 20)) 11 2 16 >"$work/lag.log" 2>&1 &
probe_pid=$!
bound_to_ftdi_sio "$kestravu_device" && fail "ftdi_sio still holds the device the viewer opened"
bound_to_ftdi_sio "$other_device" || fail "ftdi_sio let go of the other FTDI board"
requests=$(grep -oE '^request (RESET|SET_BITMODE|SET_LATENCY_TIMER) value=0x[0-9a-f]+ index=1' "$work/chip.log" | head -n3 | tr '\n' ';')
# The link keeps the latency timer at 2 ms.
[ "$requests" = "request RESET value=0x0000 index=1;request SET_BITMODE value=0x0000 index=1;request SET_LATENCY_TIMER value=0x0002 index=1;" ] ||
  fail "requests at opening: $requests"

sleep 6
xdotool windowfocus --sync "$window" key alt+m
sleep 0.5
xdotool key b
wait_until 30 other_window "$window" >/dev/null
dialog=$(other_window "$window")
[ -n "$dialog" ] || fail "no read size dialog"
xdotool windowfocus --sync "$dialog" key ctrl+a type 128
xdotool key Return
wait_until 30 dialog_closed || fail "the read size dialog did not take 128"

sleep 4
xdotool windowfocus --sync "$window" key ctrl+s
wait "$probe_pid"
lag=$(tail -n1 "$work/lag.log")
echo "behind the chip: $lag"
awk -v line="$lag" 'BEGIN {
  if (split(line, f, /[:,] */) < 1 || line !~ /^lag at 3 s: /) exit 1
  match(line, /lag at 3 s: [-0-9.]+/); at3 = substr(line, RSTART + 12, RLENGTH - 12) + 0
  match(line, /after it: at most [-0-9.]+/); after = substr(line, RSTART + 18, RLENGTH - 18) + 0
  exit !(at3 >= 0 && at3 <= 50 && after <= 50)
}' || fail "the picture is more than 50 ms behind the chip: $lag"
sleep $((opened + 20 - SECONDS > 0 ? opened + 20 - SECONDS : 0))
kill -USR1 "$chip_pid"
timeout 60 tail -s 0.05 --pid="$viewer_pid" -f /dev/null
ended=$(date +%s.%N)
kill -0 "$viewer_pid" 2>/dev/null && kill -9 "$viewer_pid"
wait "$viewer_pid"
status=$?
wait "$chip_pid"
[ "$status" = 0 ] || fail "exit code $status after unplugging, not 0: $(cat "$work/viewer.log")"
unplugged=$(sed -n 's/^unplugged at //p' "$work/chip.log")
grep -qx 'bufsize=128' "$XDG_CONFIG_HOME/kestravu/KESTRAVU.ini" || fail "the read size was not saved"
pictures=("$HOME"/Pictures/kestravu-*.png)
# The PNG header's width and height: 426 x 262, the picture as shown.
[ "$(od -An -tx1 -j16 -N8 "${pictures[0]}" 2>/dev/null | tr -d ' \n')" = 000001aa00000106 ] || fail "no 426 x 262 picture saved"

summary=$(tail -n1 "$work/chip.log")
echo "chip: $summary"
[[ $summary == *"dropped 0 while the host read"* ]] || fail "the chip dropped bytes while the viewer read"
compare_recording "$work/chip.log" "$work/sent.bin" "$work/record.kvs"
awk -v from="$unplugged" -v to="$ended" 'BEGIN {printf "unplug to exit: %.2f s\n", to - from}'
awk -v bytes="$(stat -c %s "$work/sent.bin")" -v seconds=$((SECONDS - opened)) \
  'BEGIN {printf "throughput: %d bytes in %d s, %.1f KB/s\n", bytes, seconds, bytes / seconds / 1000}'

source "$source/tests/usb/replug_tests.sh"

grep -q 'request RESET' "$work/other.log" && fail "the viewer opened the other FTDI board"
kill "$other_pid"
wait "$other_pid"
echo "$failures failure(s)"
[ "$failures" = 0 ]
