#!/usr/bin/env bash
# The device falls silent: the program waits out the driver's 3-second read time-out, then ends
# by itself, quietly, with exit code 0 and its settings saved. The device unplugged in the
# middle of a frame (every read fails from then on): the same, without the wait.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_init "$1"
e2e_find_stream_tool

stream="$E2E_DIR/ten.kvs"
"$E2E_TOOL" pattern -o "$stream" --frames 10 >/dev/null

now_ms() { date +%s%3N; }

# Checks that the program ends without a message box and saves its settings: the file starts
# without "wide", which only the save can have added.
check_quiet_end() {
  local label=$1
  e2e_check "$label: no message box" eval '! e2e_probe message 4 >/dev/null'
  e2e_wait_exit 15
  e2e_equal "$label: exit code" 0 "$E2E_EXIT"
  e2e_equal "$label: settings saved" "wide=0 scr4=1 bufsize=64" \
    "wide=$(e2e_ini_value wide) scr4=$(e2e_ini_value scr4) bufsize=$(e2e_ini_value bufsize)"
}

e2e_write_ini "[section]\nscr4=1\nbufsize=64\n"
e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$stream")"
e2e_wait_title 'KESTRAVU [*' 20 || e2e_abort "the ten frames were not shown; last title '$E2E_TITLE'"
last_frame_ms=$(now_ms)
check_quiet_end "silent device"
waited_ms=$(($(now_ms) - last_frame_ms))
# The end comes from the time-out, not from running out of bytes: not before about 3 s.
e2e_check "silent device: ended ${waited_ms} ms after the last frame, after the time-out" \
  test "$waited_ms" -ge 2500 -a "$waited_ms" -le 10000
e2e_equal "silent device: time-outs set" "read=3000 write=3000 -> 0" \
  "$(e2e_sim_log | sed -n 's/^FT_SetTimeouts handle=[0-9]* //p')"
e2e_equal "silent device: read size from the file" "count=64" \
  "$(e2e_sim_log | sed -n 's/^FT_Read handle=[0-9]* \(count=[0-9]*\).*/\1/p' | sort -u)"
e2e_equal "silent device: the last read brought nothing" "-> 0 received=0" \
  "$(e2e_sim_log | grep '^FT_Read' | tail -n 1 | sed 's/.*count=[0-9]* //')"
e2e_equal "silent device: closed at the end" "FT_Close" "$(e2e_sim_log | tail -n 1 | cut -d' ' -f1)"

# Unplugged in the second frame of the 21st round of the stream file, about 3.5 s after the
# start, with more to come.
e2e_write_ini "[section]\nscr4=1\nbufsize=64\n"
e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$stream")" KESTRAVU_SIM_LOOP=1 \
  KESTRAVU_SIM_FAIL_AFTER=$(($(stat -c %s "$stream") * 20 + 9000))
e2e_wait_window 20 || e2e_abort "no main window"
check_quiet_end "unplugged device"
e2e_check "unplugged device: the last read failed" \
  eval "e2e_sim_log | grep '^FT_Read' | tail -n 1 | grep -qv -- '-> 0 '"
e2e_finish
