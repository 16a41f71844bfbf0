#!/usr/bin/env bash
# Screen4 switched on from the menu: the next frames are drawn with the Screen4 table, the
# window keeps its size, the menu shows the check mark, and Quit saves scr4=1. The device
# repeats one key frame, so the palette and the Screen4 picture are each known exactly.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_init "$1"
e2e_find_stream_tool

stream="$E2E_DIR/key.kvs"
"$E2E_TOOL" pattern -o "$stream" --frames 1 >/dev/null
"$E2E_TOOL" decode "$stream" "$E2E_DIR/palette" >/dev/null
"$E2E_TOOL" decode "$stream" "$E2E_DIR/screen4" --screen4 >/dev/null

e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$stream")" KESTRAVU_SIM_LOOP=1
e2e_wait_window || e2e_abort "no main window"
first_window=$E2E_WINDOW
e2e_check "palette picture before the switch" e2e_wait_picture "$E2E_DIR/palette/frame-00000.png" 5 ||
  e2e_log "differing pixels: $E2E_DIFFERENCE"

e2e_menu 1 1  # Mode > Screen4
e2e_check "Screen4 picture after the switch" e2e_wait_picture "$E2E_DIR/screen4/frame-00000.png" 5 ||
  e2e_log "differing pixels: $E2E_DIFFERENCE"
e2e_read_window
e2e_equal "window after the switch" "$first_window" "$E2E_WINDOW"
e2e_menu_checks
e2e_equal "Screen4 check mark" 1 "$E2E_SCREEN4_CHECKED"
e2e_equal "Wide check mark" 0 "$E2E_WIDE_CHECKED"

e2e_menu 0 0  # File > Quit
e2e_wait_exit 15
e2e_equal "exit code after Quit" 0 "$E2E_EXIT"
e2e_equal "settings file" "$(printf '[section]\nwide=0\nscr4=1\nbufsize=32')" \
  "$(tr -d '\r' <"$E2E_DIR/KESTRAVU.ini" 2>/dev/null)"
e2e_finish
