#!/usr/bin/env bash
# The read size dialog: it shows the current size; an accepted size reopens the device at once
# and is saved at exit; empty text, Esc and the close box keep it open; numbers outside 1 ... 256
# and text without digits close it with the size unchanged; the picture stays live while it is
# open.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

e2e_start
e2e_wait_title 'KESTRAVU [*' 20 || e2e_abort "no statistics title; last title '$E2E_TITLE'"
main_client=$E2E_CLIENT

open_dialog() {
  e2e_menu 1 2  # Mode > USB Buffer Size
  E2E_DIALOG_INFO=$(e2e_probe dialog 10) || { e2e_fail "$1: the dialog did not open"; return 1; }
}

dialog_open() { e2e_probe dialog 0 >/dev/null; }

# Replaces the edit box's text with $1 (typed; nothing for empty).
enter_text() {
  # shellcheck disable=SC2046
  e2e_click $(e2e_center "$(e2e_field edit_rect "$E2E_DIALOG_INFO")")
  e2e_key End shift+Home BackSpace
  [ -z "$1" ] || e2e_type "$1"
}

click_ok() {
  # shellcheck disable=SC2046
  e2e_click $(e2e_center "$(e2e_field ok_rect "$E2E_DIALOG_INFO")")
}

# Waits briefly, as the system would have closed it by then, and checks it is still open.
still_open() {
  sleep 0.5
  dialog_open
}

closes() { e2e_probe dialog-gone 5 >/dev/null; }

reads_since() { e2e_sim_log | tail -n +"$1" | sed -n 's/^FT_Read handle=[0-9]* count=\([0-9]*\).*/\1/p' | sort -u; }

open_dialog "first opening" || e2e_abort "no dialog"
e2e_equal "the edit box shows the read size" 32 "$(e2e_field edit "$E2E_DIALOG_INFO")"
e2e_equal "the focus is on OK" 201 "$(e2e_field focus_id "$E2E_DIALOG_INFO")"

# The picture right of the dialog goes on changing.
read -r dx _ dw _ <<<"$(e2e_field dialog "$E2E_DIALOG_INFO")"
read -r cx cy cw ch <<<"$main_client"
uncovered="$((dx + dw)) $cy $((cx + cw - dx - dw)) $ch"
e2e_capture "$E2E_DIR/live-0.png" "$uncovered"
changed=0
for i in 1 2 3 4 5 6 7 8 9 10; do
  sleep 0.2
  e2e_capture "$E2E_DIR/live-$i.png" "$uncovered"
  [ "$(e2e_differing_pixels "$E2E_DIR/live-0.png" "$E2E_DIR/live-$i.png")" != 0 ] && changed=1 && break
done
e2e_equal "the picture changes while the dialog is open" 1 "$changed"

e2e_key Escape
e2e_check "Esc keeps the dialog open" still_open
# shellcheck disable=SC2046
e2e_click $(e2e_close_box "$(e2e_field dialog "$E2E_DIALOG_INFO")")
e2e_check "the close box keeps the dialog open" still_open
enter_text ""
click_ok
e2e_check "OK with empty text keeps the dialog open" still_open
e2e_equal "nothing reopened the device so far" 0 "$(e2e_sim_log | grep -c '^FT_Close')"

# Accepts $1 typed into the open dialog with the key $2 (Return: the default button, OK) and
# checks that the device was reopened at the read size $3.
accept_size() {
  local text=$1 key=$2 size=$3 log_mark reopened
  log_mark=$(($(e2e_sim_log | wc -l) + 1))
  enter_text "$text"
  if [ "$key" = click ]; then click_ok; else e2e_key "$key"; fi
  e2e_check "'$text' and OK close the dialog" closes
  sleep 0.5
  # The calls of an open are the link's affair (its unit tests): here, that it closed, opened and
  # took the new size.
  e2e_equal "'$text': the device closed and opened again at $size" "FT_Close|FT_OpenEx|in=$size" \
    "$(e2e_sim_log | tail -n +"$log_mark" | sed -n 's/^\(FT_Close\|FT_OpenEx\) .*/\1/p; s/^FT_SetUSBParameters .* \(in=[0-9]*\) .*/\1/p' |
      uniq | paste -sd'|')"
  reopened=$(e2e_sim_log | grep -n '^FT_SetUSBParameters' | tail -n 1 | cut -d: -f1)
  e2e_equal "'$text': reads after the reopening" "$size" "$(reads_since "$reopened")"
}

# Blanks, then a sign, then digits up to the first other character.
accept_size " +64kb" click 64
open_dialog "with 64" && e2e_equal "the edit box shows the new size" 64 "$(e2e_field edit "$E2E_DIALOG_INFO")"
accept_size 128 Return 128

for text in 0 257 -5 abc; do
  open_dialog "with 128" || continue
  e2e_equal "the edit box shows the new size" 128 "$(e2e_field edit "$E2E_DIALOG_INFO")"
  log_mark=$(($(e2e_sim_log | wc -l) + 1))
  enter_text "$text"
  click_ok
  e2e_check "'$text' and OK close the dialog" closes
  sleep 0.3
  e2e_equal "'$text' leaves the device alone" "" "$(e2e_sim_log | tail -n +"$log_mark" | grep -v '^FT_Read')"
  e2e_equal "'$text' leaves the read size" 128 "$(reads_since "$log_mark")"
done

e2e_menu 0 0  # File > Quit
e2e_wait_exit 15
e2e_equal "exit code after Quit" 0 "$E2E_EXIT"
e2e_equal "bufsize in the settings file" 128 "$(e2e_ini_value bufsize)"
e2e_finish
