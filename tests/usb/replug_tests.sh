# Plug and play: the viewer waiting for the KESTRAVU device, taking it back after an unplug, and
# choosing one of two by serial number, through the real USB stack. Sourced by usb_tests.sh
# (its helpers, X display, settings folder and the other FTDI board in place). Cases, two runs:
#   waiting  kestravu --wait --record with no KESTRAVU device: the window opens and says it
#            waits; the chip attached 3 s later is opened; unplugged mid-stream and plugged in
#            again 2 s later it is opened again within 1 s of the attach (libusb's hotplug
#            events, which come from udev), the viewer still running; the recording is each
#            plug's stream, byte for byte, one after the other, and the chip dropped nothing;
#   serial   two chips of different serial numbers and streams: --serial takes the one named
#            and the other is never opened; Device > (the other) switches to it, and the choice
#            is saved.
chip_serial_folder() {
  local serial
  for serial in /sys/bus/usb/devices/*/serial; do
    [ "$(cat "$serial" 2>/dev/null)" = "$1" ] && { dirname "$serial"; return; }
  done
  return 1
}
serial_has_driver() { local device; device=$(chip_serial_folder "$1") && [ -e "$device/${device##*/}:1.0/driver" ]; }
openings() { grep -c '^request RESET .*index=1' "$1" 2>/dev/null || true; }
opened_times() { [ "$(openings "$1")" -ge "$2" ] 2>/dev/null; }
# Waits until the chip with this log has been opened N times; prints the wall clock then.
wall_when_opened() {
  wait_until "$3" opened_times "$1" "$2" || return 1
  date +%s.%N
}
attach_time() { sed -n 's/^attached port=.* at \([0-9.]*\)$/\1/p' "$1" | sed -n "${2}p"; }
attached_times() { [ -n "$(attach_time "$1" "$2")" ]; }
paints() { grep -c '^painted' "$1"; }
painted_more_than() { [ "$(paints "$1")" -gt "$2" ]; }
unplugged_twice() { [ "$(grep -c '^unplugged at' "$1")" -ge 2 ]; }
viewer_waiting() { xdotool search --onlyvisible --name 'waiting for the KESTRAVU device' >/dev/null; }

# libusb hears of devices coming and going from udev, as on any desktop.
/lib/systemd/systemd-udevd --daemon >"$work/udevd.log" 2>&1 || fail "udevd did not start"

echo "== waiting"
KESTRAVU_TRACE=$work/wait-trace.log "$viewer" --wait --record "$work/wait-record.kvs" >"$work/wait-viewer.log" 2>&1 &
viewer_pid=$!
wait_until 60 viewer_waiting || fail "the window does not say that it waits for the device"
sleep 3
chrt -f 50 "$chip" --serial KVW00001 --replug-after 2 --stream "$work/pattern.kvs" --loop \
  --log "$work/wait-chip.log" --sent "$work/wait-sent.bin" &
chip_pid=$!
wall_when_opened "$work/wait-chip.log" 1 60 >/dev/null || fail "the viewer did not take the chip attached after it"
sleep 5
kill -USR1 "$chip_pid"
wait_until 30 attached_times "$work/wait-chip.log" 2 || fail "the chip did not come back"
reopened=$(wall_when_opened "$work/wait-chip.log" 2 30) || fail "the viewer did not take the chip back"
# The first paint after the reopening, seen within 0.1 s.
paints_at_reopening=$(paints "$work/wait-trace.log")
wait_until 30 painted_more_than "$work/wait-trace.log" "$paints_at_reopening" && picture=$(date +%s.%N)
kill -0 "$viewer_pid" 2>/dev/null || fail "the viewer ended at the unplug"
back=$(attach_time "$work/wait-chip.log" 2)
unplugged=$(sed -n 's/^unplugged at //p' "$work/wait-chip.log" | head -n1)
sleep 5
awk -v from="$unplugged" -v back="$back" -v open="${reopened:-0}" -v picture="${picture:-0}" 'BEGIN {
  printf "unplug to attach: %.2f s; attach to open: %.2f s; attach to the first new picture: %.2f s\n",
         back - from, open - back, picture - back }'
awk -v back="$back" -v open="${reopened:-0}" 'BEGIN { exit !(open > 0 && open - back <= 1.0) }' ||
  fail "the returned chip was not read within 1 s of the attach"
[ -n "${picture:-}" ] || fail "no picture after the replug"
# Unplugged for good: the viewer waits on, and SIGTERM ends it normally.
kill -USR1 "$chip_pid"
wait_until 30 unplugged_twice "$work/wait-chip.log"
kill -TERM "$chip_pid"
wait "$chip_pid"
wait_until 30 viewer_waiting || fail "the viewer does not wait after the second unplug"
kill -TERM "$viewer_pid"
timeout 30 tail --pid="$viewer_pid" -f /dev/null
kill -0 "$viewer_pid" 2>/dev/null && kill -9 "$viewer_pid"
wait "$viewer_pid"
status=$?
[ "$status" = 0 ] || fail "exit code $status at SIGTERM while waiting, not 0: $(cat "$work/wait-viewer.log")"
summary=$(tail -n1 "$work/wait-chip.log")
echo "chip: $summary"
[[ $summary == *"dropped 0 while the host read"* ]] || fail "the chip dropped bytes while the viewer read"
[ "$(openings "$work/wait-chip.log")" = 2 ] || fail "the chip was opened $(openings "$work/wait-chip.log") times, not 2"
compare_recording "$work/wait-chip.log" "$work/wait-sent.bin" "$work/wait-record.kvs"

echo "== serial"
"$build/tools/stream/kestravu-stream" pattern -o "$work/short.kvs" --frames 7 >/dev/null
"$chip" --serial KVA00001 --stream "$work/short.kvs" --loop --log "$work/a.log" &
a_pid=$!
chrt -f 50 "$chip" --serial KVB00002 --stream "$work/pattern.kvs" --loop --log "$work/b.log" --sent "$work/b-sent.bin" &
b_pid=$!
wait_until 60 serial_has_driver KVA00001 || fail "chip A did not come up: $(cat "$work/a.log")"
wait_until 60 serial_has_driver KVB00002 || fail "chip B did not come up: $(cat "$work/b.log")"
# The Device menu numbers the devices in the list's order.
mapfile -t listed < <("$device_probe" list)
[ "$(printf '%s\n' "${listed[@]}" | sort | tr '\n' ' ')" = "KVA00001 KVB00002 " ] || fail "the list gives '${listed[*]}'"
a_number=1
[ "${listed[0]}" = KVA00001 ] || a_number=2
"$viewer" --serial KVB00002 --record "$work/b-record.kvs" >"$work/serial-viewer.log" 2>&1 &
viewer_pid=$!
wall_when_opened "$work/b.log" 1 60 >/dev/null || fail "the viewer did not take the chip named"
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^KESTRAVU' | head -n1)
sleep 4
[ "$(openings "$work/a.log")" = 0 ] || fail "the viewer opened the chip not named"
xdotool windowfocus --sync "$window" key alt+d
sleep 0.5
xdotool key "$a_number"
wall_when_opened "$work/a.log" 1 30 >/dev/null || fail "Device > $a_number did not switch to chip A"
sleep 2
xdotool windowfocus --sync "$window" key ctrl+q
timeout 30 tail --pid="$viewer_pid" -f /dev/null
kill -0 "$viewer_pid" 2>/dev/null && kill -9 "$viewer_pid"
wait "$viewer_pid"
status=$?
[ "$status" = 0 ] || fail "exit code $status after Quit, not 0: $(cat "$work/serial-viewer.log")"
grep -qx 'serial=KVA00001' "$XDG_CONFIG_HOME/kestravu/KESTRAVU.ini" || fail "the chosen device was not saved"
kill -TERM "$a_pid" "$b_pid"
wait "$a_pid" "$b_pid"
# The recording holds chip B's stream from its opening until the switch (but for what was on
# its way at the switch), then chip A's.
mark=$(sed -n 's/^request RESET value=0x0000 index=1 sent=\([0-9]*\).*/\1/p' "$work/b.log" | head -n1)
tail -c +$((${mark:-0} + 1)) "$work/b-sent.bin" >"$work/b-part.bin"
length=$(stat -c %s "$work/b-part.bin")
result=$(cmp "$work/b-part.bin" "$work/b-record.kvs" 2>&1)
case $result in
  "" | *"EOF on $work/b-part.bin"*) matched=$length ;;
  *" differ: "*) matched=$(($(sed 's/.* differ: [a-z]* \([0-9]*\).*/\1/' <<<"$result") - 1)) ;;
  *) matched=0 ;;
esac
echo "serial: chip B sent $length bytes to the viewer, the recording begins with $matched of them"
[ "$length" -gt 0 ] && [ $((length - matched)) -le $((32 * 512)) ] || fail "the recording does not begin with chip B's stream"
[ "$(stat -c %s "$work/b-record.kvs")" -gt "$length" ] || fail "the recording holds nothing of chip A"
udevadm control --exit
