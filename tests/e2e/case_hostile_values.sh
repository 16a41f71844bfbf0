#!/usr/bin/env bash
# Settings files with values the program never writes: read sizes outside 1 ... 256, text and
# empty values, flags other than 0 and 1. Each run must show the picture, end through Quit with
# exit code 0 and never read more than 256 bytes at once. A read size outside 1 ... 256, or one
# the profile functions read as 0 (text) or as missing (empty), becomes the default 32; a flag is
# on when non-zero, and -1 counts as a missing key (off). The file is saved as the program saw it.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
# shellcheck source=tests/e2e/hostile_lib.sh
source "$(dirname "$0")/hostile_lib.sh"
e2e_init "$1"
hostile_key_frame

# file text | effective wide, scr4, read size | saved wide, scr4, bufsize
runs=(
  'bufsize=0\nwide=7\n|1 0 32|7 0 32'
  'bufsize=-5\nscr4=7\n|0 1 32|0 7 32'
  'wide=-1\nscr4=-1\nbufsize=257\n|0 0 32|0 0 32'
  'bufsize=99999\n|0 0 32|0 0 32'
  'bufsize=2147483648\n|0 0 32|0 0 32'
  'bufsize=abc\n|0 0 32|0 0 32'
  'bufsize=\n|0 0 32|0 0 32'
  'wide=7\nscr4=-7\nbufsize=256\n|1 1 256|7 -7 256'
)
for run in "${runs[@]}"; do
  IFS='|' read -r text effective saved <<<"$run"
  label=$(printf '%s' "$text" | sed 's/\\n/ /g; s/ $//')
  read -r wide screen4 size <<<"$effective"
  e2e_write_ini "[section]\n$text"
  e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$HOSTILE_STREAM")" KESTRAVU_SIM_LOOP=1
  hostile_check_run "$label" "$wide" "$screen4" "$size"
  hostile_saved "$label" "$saved"
done

# A flag read as 7 is on: the menu switches it off, and the file then holds 0.
e2e_write_ini '[section]\nwide=7\nscr4=7\n'
e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$HOSTILE_STREAM")" KESTRAVU_SIM_LOOP=1
if e2e_wait_window 20; then
  e2e_menu 1 0  # Mode > Wide
  e2e_menu 1 1  # Mode > Screen4
  e2e_check "wide=7 scr4=7, both switched off: window at normal size" hostile_wait_width 426
  e2e_check "wide=7 scr4=7, both switched off: the picture at normal scale in the palette" \
    e2e_wait_picture "$HOSTILE_FRAMES/normal-palette.png" 5 || e2e_log "differing pixels: $E2E_DIFFERENCE"
  e2e_menu 0 0
  e2e_wait_exit 15
  e2e_equal "wide=7 scr4=7, both switched off: exit code" 0 "$E2E_EXIT"
  hostile_saved "wide=7 scr4=7, both switched off" "0 0 32"
else
  e2e_fail "wide=7 scr4=7: no main window"
fi
e2e_finish
