#!/usr/bin/env bash
# A dead input: the device sends only zero bytes, at its real rate of about 110 KB a second, and
# never a frame marker. No frame is ever completed, yet the window keeps answering its menu, and
# Quit ends the program normally within 2 s of the key press.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

stream="$E2E_DIR/zeros.bin"
head -c 65536 /dev/zero >"$stream"

e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$stream")" KESTRAVU_SIM_LOOP=1 KESTRAVU_SIM_RATE=110000
e2e_wait_window || e2e_abort "no main window"
e2e_menu 1 1  # Mode > Screen4
e2e_menu_checks
e2e_equal "Screen4 switched on through the menu" 1 "$E2E_SCREEN4_CHECKED"
e2e_read_window
e2e_equal "title without frames" "KESTRAVU" "$E2E_TITLE"
e2e_check "the device is still being read" eval "e2e_sim_log | grep -c '^FT_Read' | xargs test 100 -lt"

e2e_menu 0 0  # File > Quit
start_ns=$(date +%s%N)
e2e_wait_exit 2
echo "File > Quit ended the program after $((($(date +%s%N) - start_ns) / 1000000)) ms"
e2e_equal "exit code after Quit" 0 "$E2E_EXIT"
e2e_equal "scr4 in the settings file" 1 "$(e2e_ini_value scr4)"
e2e_finish
