#!/usr/bin/env bash
# The caption's close box ends the program like Quit: exit code 0 and the settings saved, here
# after Wide was switched on, so the box is where the resized window has it.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

e2e_start
e2e_wait_window || e2e_abort "no main window"
first_width=$(cut -d' ' -f3 <<<"$E2E_WINDOW")
e2e_menu 1 0  # Mode > Wide
deadline=$((SECONDS + 5))
while e2e_read_window && [ "$(cut -d' ' -f3 <<<"$E2E_WINDOW")" = "$first_width" ] && [ "$SECONDS" -lt "$deadline" ]; do
  sleep 0.1
done
e2e_equal "window width after Wide" 852 "$(cut -d' ' -f3 <<<"$E2E_WINDOW")"

# shellcheck disable=SC2046
e2e_click $(e2e_close_box "$E2E_WINDOW")
e2e_wait_exit 15
e2e_equal "exit code after the close box" 0 "$E2E_EXIT"
e2e_equal "settings file" "$(printf '[section]\nwide=1\nscr4=0\nbufsize=32')" \
  "$(tr -d '\r' <"$E2E_DIR/KESTRAVU.ini" 2>/dev/null)"
e2e_equal "the device closed at the end" "FT_Close" "$(e2e_sim_log | tail -n 1 | cut -d' ' -f1)"
e2e_finish
