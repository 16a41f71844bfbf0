#!/usr/bin/env bash
# wide=1 and scr4=1 in the settings file: the window is 852 wide and 524 + menu bar + caption
# high at (100, 100), and Wide and Screen4 show their check marks. Switching Wide twice from the
# menu returns the window to that size at the same place, and each frame after a switch is
# drawn at the new scale; Quit, chosen with the mouse, keeps both in the file.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_init "$1"
e2e_find_stream_tool

# One key frame over and over, so that the picture at either scale is known exactly.
stream="$E2E_DIR/key.kvs"
"$E2E_TOOL" pattern -o "$stream" --frames 1 >/dev/null
"$E2E_TOOL" decode "$stream" "$E2E_DIR/normal" --screen4 >/dev/null
"$E2E_TOOL" decode "$stream" "$E2E_DIR/wide" --screen4 --wide >/dev/null

check_picture() {
  e2e_check "$1: the picture" e2e_wait_picture "$2/frame-00000.png" 5 ||
    e2e_log "differing pixels: $E2E_DIFFERENCE"
}

metrics=$(e2e_probe metrics)
menu_height=$(e2e_field cymenu "$metrics")
caption_height=$(e2e_field cycaption "$metrics")
wide_window="100 100 852 $((524 + menu_height + caption_height))"
normal_window="100 100 426 $((262 + menu_height + caption_height))"

# Polls the main window until its outer rectangle is $1 or 5 seconds have passed.
wait_window_rect() {
  local deadline=$((SECONDS + 5))
  while e2e_read_window && [ "$E2E_WINDOW" != "$1" ] && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.1; done
  [ "$E2E_WINDOW" = "$1" ]
}

check_marks() {
  e2e_menu_checks
  e2e_equal "$1: Wide check mark" "$2" "$E2E_WIDE_CHECKED"
  e2e_equal "$1: Screen4 check mark" "$3" "$E2E_SCREEN4_CHECKED"
}

e2e_write_ini "[section]\nwide=1\nscr4=1\nbufsize=32\n"
e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$stream")" KESTRAVU_SIM_LOOP=1
e2e_wait_window || e2e_abort "no main window"
e2e_equal "window at start (x y width height)" "$wide_window" "$E2E_WINDOW"
check_picture "at start" "$E2E_DIR/wide"
check_marks "at start" 1 1

e2e_menu 1 0  # Mode > Wide
wait_window_rect "$normal_window"
e2e_equal "window after Wide switched off" "$normal_window" "$E2E_WINDOW"
check_picture "Wide off" "$E2E_DIR/normal"
check_marks "Wide off" 0 1

e2e_menu 1 0
wait_window_rect "$wide_window"
e2e_equal "window after Wide switched on again" "$wide_window" "$E2E_WINDOW"
check_picture "Wide on again" "$E2E_DIR/wide"
check_marks "Wide on again" 1 1

e2e_quit_with_mouse
e2e_wait_exit 15
e2e_equal "exit code after Quit" 0 "$E2E_EXIT"
e2e_equal "wide in the settings file" 1 "$(e2e_ini_value wide)"
e2e_equal "scr4 in the settings file" 1 "$(e2e_ini_value scr4)"
e2e_finish
