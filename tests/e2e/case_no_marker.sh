#!/usr/bin/env bash
# A device that sends bytes but never a frame marker: no frame is ever completed, yet the window
# keeps answering its menu, and Quit ends the program normally.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

stream="$E2E_DIR/no-marker.bin"
head -c 262144 /dev/zero | tr '\0' '\102' >"$stream"  # 0x42 over and over

e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$stream")" KESTRAVU_SIM_LOOP=1
e2e_wait_window || e2e_abort "no main window"
e2e_menu 1 1  # Mode > Screen4
e2e_menu_checks
e2e_equal "Screen4 switched on through the menu" 1 "$E2E_SCREEN4_CHECKED"
e2e_read_window
e2e_equal "title without frames" "KESTRAVU" "$E2E_TITLE"
e2e_check "the device is still being read" eval "e2e_sim_log | grep -c '^FT_Read' | xargs test 100 -lt"

e2e_menu 0 0  # File > Quit
e2e_wait_exit 20
e2e_equal "exit code after Quit" 0 "$E2E_EXIT"
e2e_equal "scr4 in the settings file" 1 "$(e2e_ini_value scr4)"
e2e_finish
