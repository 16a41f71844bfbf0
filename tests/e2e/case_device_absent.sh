#!/usr/bin/env bash
# No capture device: the program shows its one start-up message (caption and USB text in
# Japanese, from Shift-JIS), opens no main window, ends with exit code 1 after OK and leaves
# an existing settings file exactly as it was. The same when the driver library is missing.
# The message must read the same on a Western system (code page 1252) as on a Japanese one.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

caption_sjis=83478389815b  # エラー
usb_text_sjis=5553422082cc8f898afa89bb82c98eb8947382b582dc82b582bd  # USB の初期化に失敗しました

# A file the program would write differently: comments, CR LF, another section, odd values.
e2e_write_ini '; written by hand\r\n[section]\r\nbufsize=77\r\nwide=1\r\n\r\n[other]\r\nkey=value\r\n'
cp "$E2E_DIR/KESTRAVU.ini" "$E2E_DIR/KESTRAVU.ini.before"

# Checks the message box, then dismisses it with $1 ("click" or "key").
check_message() {
  local label=$1 how=$2 output
  if ! output=$(e2e_probe message 20); then
    e2e_fail "$label: no message box"
    return
  fi
  e2e_equal "$label: caption (Shift-JIS)" "$caption_sjis" "$(e2e_field caption_cp932 "$output")"
  e2e_equal "$label: text (Shift-JIS)" "$usb_text_sjis" "$(e2e_field text_cp932 "$output")"
  e2e_equal "$label: caption as shown" "エラー" "$(e2e_field caption "$output")"
  e2e_equal "$label: text as shown" "USB の初期化に失敗しました" "$(e2e_field text "$output")"
  e2e_equal "$label: only an OK button" "1 0" "$(e2e_field ok "$output") $(e2e_field cancel "$output")"
  e2e_check "$label: no main window while the message is up" eval '! e2e_probe window >/dev/null'
  if [ "${KESTRAVU_UPDATE_SCREENSHOT:-}" = 1 ] && [ "$E2E_LOCALE" = C.UTF-8 ]; then
    e2e_capture "$E2E_ROOT/docs/message-box.png" "$(e2e_field box "$output")"
    e2e_log "screenshot written to docs/message-box.png"
  fi
  if [ "$how" = click ]; then
    # shellcheck disable=SC2046
    e2e_click $(e2e_center "$(e2e_field ok_rect "$output")")
  else
    # shellcheck disable=SC2034  # e2e_key keeps the pointer over E2E_CLIENT
    E2E_CLIENT=$(e2e_field box "$output")
    e2e_key Return
  fi
}

for E2E_LOCALE in C.UTF-8 ja_JP.UTF-8; do
  e2e_start KESTRAVU_SIM_ABSENT=1
  check_message "device absent, $E2E_LOCALE" click
  e2e_wait_exit 15
  e2e_equal "device absent, $E2E_LOCALE: exit code" 1 "$E2E_EXIT"
  e2e_check "device absent, $E2E_LOCALE: settings file unchanged" \
    cmp -s "$E2E_DIR/KESTRAVU.ini.before" "$E2E_DIR/KESTRAVU.ini"
  e2e_equal "device absent, $E2E_LOCALE: the driver was asked once, by description" \
    "FT_OpenEx description=KESTRAVU flags=2 -> 2" "$(e2e_sim_log)"
done

E2E_LOCALE=C.UTF-8
rm "$E2E_DIR/FTD2XX.dll"
e2e_start
check_message "no driver library" key
e2e_wait_exit 15
e2e_equal "no driver library: exit code" 1 "$E2E_EXIT"
e2e_check "no driver library: settings file unchanged" cmp -s "$E2E_DIR/KESTRAVU.ini.before" "$E2E_DIR/KESTRAVU.ini"
e2e_finish
