#!/usr/bin/env bash
# A device that sends nothing but the key-frame restart pair 0x01 0x81, endlessly, about 4 MB a
# second (64 KiB at the device's 60 a second): no frame ever completes, yet the window keeps
# answering. Its menus, the check marks and the read size dialog work, and Quit ends the program
# with exit code 0. Then the same pairs trickling in at about 30 KB a second (512 bytes at the
# device's 60 a second): each timer tick gives up after its second of patience, long before a
# mebibyte has come, so Quit still ends the program within seconds.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
# shellcheck source=tests/e2e/hostile_lib.sh
source "$(dirname "$0")/hostile_lib.sh"
e2e_init "$1"

stream="$E2E_DIR/restarts.bin"
head -c 65536 /dev/zero | sed 's/\x00\x00/\x01\x81/g' >"$stream"
e2e_equal "the stream holds only restart pairs" "0181" \
  "$(od -An -tx1 -v "$stream" | tr -d ' \n' | sed 's/\(0181\)*$/0181/')"

e2e_write_ini '[section]\nbufsize=256\n'
e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$stream")" KESTRAVU_SIM_LOOP=1
e2e_wait_window 20 || e2e_abort "no main window"
e2e_menu 1 1  # Mode > Screen4
e2e_menu_checks
e2e_equal "Screen4 switched on through the menu" 1 "$E2E_SCREEN4_CHECKED"

if hostile_open_dialog; then
  e2e_equal "the dialog shows the read size" 256 "$(e2e_field edit "$HOSTILE_DIALOG")"
  log_mark=$(($(e2e_sim_log | wc -l) + 1))
  hostile_enter_text 64
  hostile_click_ok
  e2e_check "the dialog closes" eval 'e2e_probe dialog-gone 5 >/dev/null'
  sleep 0.5
  e2e_equal "reads after the new size" 64 "$(e2e_sim_log | tail -n +"$log_mark" |
    sed -n 's/^FT_Read handle=2 count=\([0-9]*\).*/\1/p' | sort -u)"
else
  e2e_fail "the read size dialog did not open"
fi

e2e_read_window
e2e_equal "no frame completed" "KESTRAVU" "$E2E_TITLE"
taken=$(e2e_delivered_bytes)
e2e_check "the device was read all along (${taken} bytes)" test "$taken" -gt 4194304
e2e_menu 0 0  # File > Quit
e2e_wait_exit 20
e2e_equal "exit code after Quit" 0 "$E2E_EXIT"
hostile_saved "after Quit" "0 1 64"

trickle="$E2E_DIR/restarts-512.bin"
head -c 512 "$stream" >"$trickle"
e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$trickle")" KESTRAVU_SIM_LOOP=1
e2e_wait_window 20 || e2e_abort "no main window for the trickle"
sleep 3  # a few ticks' worth of giving up
e2e_read_window
e2e_equal "no frame completed from the trickle" "KESTRAVU" "$E2E_TITLE"
e2e_menu 0 0  # File > Quit
e2e_wait_exit 10
e2e_equal "exit code after Quit during the trickle" 0 "$E2E_EXIT"
e2e_finish
