#!/usr/bin/env bash
# A new read size from the dialog while the device can no longer be opened (it went away while
# closed): the reopening fails without a word, the program ends by itself at its next read,
# quietly, with exit code 0, and saves the new size. No driver call follows the refused open.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
# shellcheck source=tests/e2e/hostile_lib.sh
source "$(dirname "$0")/hostile_lib.sh"
e2e_init "$1"

e2e_write_ini '[section]\nscr4=1\n'
e2e_start KESTRAVU_SIM_OPENS=1
e2e_wait_title 'KESTRAVU [*' 20 || e2e_abort "no statistics title; last title '$E2E_TITLE'"
hostile_open_dialog || e2e_abort "the read size dialog did not open"
e2e_equal "the dialog shows the read size" 32 "$(e2e_field edit "$HOSTILE_DIALOG")"
hostile_enter_text 128
hostile_click_ok
hostile_check_quiet_end "refused reopening"
hostile_saved "refused reopening" "0 1 128"
e2e_equal "refused reopening: the last driver calls" \
  "FT_Close handle=1 -> 0|FT_OpenEx description=KESTRAVU flags=2 -> 2" \
  "$(e2e_sim_log | tail -n 2 | paste -sd'|')"
e2e_equal "refused reopening: every read before it at the old size" 32 "$(hostile_read_sizes | paste -sd' ')"
e2e_finish
