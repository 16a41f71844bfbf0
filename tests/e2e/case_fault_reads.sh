#!/usr/bin/env bash
# Device faults while reading: an error status on the very first read, an error in the middle of
# a frame (after a short read), and a device that sends bytes without a frame marker and then
# falls silent. Each time the program ends by itself, quietly, with exit code 0 and its settings
# saved, having taken every byte the device delivered.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
# shellcheck source=tests/e2e/hostile_lib.sh
source "$(dirname "$0")/hostile_lib.sh"
e2e_init "$1"
hostile_key_frame
frame_bytes=$(stat -c %s "$HOSTILE_STREAM")

last_read() { e2e_sim_log | grep '^FT_Read' | tail -n 1 | sed 's/^FT_Read handle=[0-9]* //'; }

# The file starts without "wide", which only the save adds.
settings_file='[section]\nscr4=1\nbufsize=100\n'

e2e_write_ini "$settings_file"
e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$HOSTILE_STREAM")" KESTRAVU_SIM_LOOP=1 KESTRAVU_SIM_FAIL_AFTER=0
hostile_check_quiet_end "error on the first read"
hostile_saved "error on the first read" "0 1 100"
e2e_equal "error on the first read: the one read" "count=100 -> 4 received=0" "$(e2e_sim_log | grep '^FT_Read' | sed 's/^FT_Read handle=[0-9]* //')"
e2e_equal "error on the first read: closed at the end" "FT_Close" "$(e2e_sim_log | tail -n 1 | cut -d' ' -f1)"

# Two whole frames, then 1,234 bytes into the third: the last good read is cut short there.
fail_after=$((2 * frame_bytes + 1234))
e2e_write_ini "$settings_file"
e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$HOSTILE_STREAM")" KESTRAVU_SIM_LOOP=1 KESTRAVU_SIM_FAIL_AFTER=$fail_after
hostile_check_quiet_end "error in the middle of a frame"
hostile_saved "error in the middle of a frame" "0 1 100"
e2e_equal "error in the middle of a frame: every delivered byte taken" "$fail_after" "$(e2e_delivered_bytes)"
e2e_equal "error in the middle of a frame: the short read before the error" "count=100 -> 0 received=$((fail_after % 100))" \
  "$(e2e_sim_log | grep '^FT_Read' | tail -n 2 | head -n 1 | sed 's/^FT_Read handle=[0-9]* //')"
e2e_equal "error in the middle of a frame: the last read failed" "count=100 -> 4 received=0" "$(last_read)"
hostile_check_read_size "error in the middle of a frame" 100

# Bytes without a frame marker, among them pairs that only look like one, then silence: the
# marker search ends at the device's read time-out.
stream="$E2E_DIR/no-marker.bin"
{
  head -c 3000 /dev/zero | tr '\0' '\102'
  printf '\002\201\201\001\001\200\201\000\377\201'
  head -c 2990 /dev/zero | tr '\0' '\201'
} >"$stream"
e2e_write_ini "$settings_file"
e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$stream")"
if e2e_wait_window 20; then
  sleep 1
  e2e_read_window
  e2e_equal "silent marker search: no frame while waiting" "KESTRAVU" "$E2E_TITLE"
else
  e2e_fail "silent marker search: no main window"
fi
hostile_check_quiet_end "silent marker search"
hostile_saved "silent marker search" "0 1 100"
e2e_equal "silent marker search: every byte taken" 6000 "$(e2e_delivered_bytes)"
e2e_equal "silent marker search: ended by a read that brought nothing in time" "count=100 -> 0 received=0" "$(last_read)"
e2e_finish
