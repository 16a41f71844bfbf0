# shellcheck shell=bash
# Helpers for the end-to-end cases with hostile settings files and device faults, sourced after
# lib.sh:
#
#   hostile_key_frame             makes $HOSTILE_STREAM, one key frame that the device repeats,
#                                 and its decodings $HOSTILE_FRAMES/{normal,wide}-{palette,screen4}.png
#   hostile_start_at EXE [NAME=VALUE...]  e2e_start for a copy of the program elsewhere
#   hostile_check_run LABEL WIDE SCREEN4 READSIZE  for a program started on $HOSTILE_STREAM:
#                                 checks the window size and the picture for the effective Wide
#                                 and Screen4, the statistics title, Quit with exit code 0, and
#                                 that every read and transfer size was READSIZE (never above 256)
#   hostile_read_sizes            the distinct read and transfer sizes in the log, one a line
#   hostile_check_read_size LABEL SIZE  every read and transfer size in the log was SIZE
#   hostile_wait_width WIDTH      waits up to 5 s for the main window to be WIDTH wide, reads it
#   hostile_without_ours FILE     FILE without the program's three keys in its section
#   hostile_section_value KEY [FILE]  KEY's value in the program's section ("" when missing)
#   hostile_make_read_only FILE   / hostile_make_writable FILE: a file the program cannot
#                                 write, also when the tests run as root (which ignores modes)
#   hostile_check_quiet_end LABEL  no message box, exit code 0
#   hostile_saved LABEL "W S B"   the settings file holds wide=W scr4=S bufsize=B
#   hostile_open_dialog / hostile_enter_text TEXT / hostile_click_ok: the read size dialog

hostile_key_frame() {
  e2e_find_stream_tool
  HOSTILE_STREAM="$E2E_DIR/key.kvs"
  HOSTILE_FRAMES="$E2E_DIR/expected"
  "$E2E_TOOL" pattern -o "$HOSTILE_STREAM" --frames 1 >/dev/null || e2e_abort "no key frame"
  local scale colours flags
  mkdir -p "$HOSTILE_FRAMES"
  for scale in normal wide; do
    for colours in palette screen4; do
      flags=()
      [ "$scale" = wide ] && flags+=(--wide)
      [ "$colours" = screen4 ] && flags+=(--screen4)
      "$E2E_TOOL" decode "$HOSTILE_STREAM" "$E2E_DIR/decoded" "${flags[@]}" >/dev/null ||
        e2e_abort "the key frame did not decode"
      mv "$E2E_DIR/decoded/frame-00000.png" "$HOSTILE_FRAMES/$scale-$colours.png"
    done
  done
}

hostile_start_at() {
  local program=$1
  shift
  : >"$E2E_LOG"
  (cd / && exec env "KESTRAVU_SIM_LOG=$(e2e_win_path "$E2E_LOG")" "$@" \
     LC_ALL="$E2E_LOCALE" wine "$program" >"$E2E_DIR/wine.out" 2>&1) &
  # shellcheck disable=SC2034  # lib.sh's waits and e2e_finish use them
  E2E_PID=$! E2E_EXIT=""
}

hostile_read_sizes() {
  e2e_sim_log | sed -n 's/^FT_Read handle=[0-9]* count=\([0-9]*\).*/\1/p; s/^FT_SetUSBParameters handle=[0-9]* in=\([0-9]*\).*/\1/p' |
    sort -un
}

hostile_check_read_size() {
  local sizes largest
  sizes=$(hostile_read_sizes | paste -sd' ')
  largest=$(hostile_read_sizes | tail -n 1)
  e2e_check "$1: the device was read" eval "e2e_sim_log | grep '^FT_Read .* received=[1-9]' >/dev/null"
  e2e_check "$1: no read size above 256 (largest ${largest:-none})" test "${largest:-0}" -le 256
  e2e_equal "$1: read and transfer sizes" "$2" "$sizes"
}

hostile_check_run() {
  local label=$1 wide=$2 screen4=$3 size=$4 scale=normal colours=palette width=426
  [ "$wide" = 1 ] && scale=wide width=852
  [ "$screen4" = 1 ] && colours=screen4
  if ! e2e_wait_window 20; then
    e2e_fail "$label: no main window"
    e2e_wait_exit 15
    return 1
  fi
  e2e_equal "$label: window width" "$width" "$(cut -d' ' -f3 <<<"$E2E_WINDOW")"
  e2e_check "$label: the picture, $scale scale in $colours colours" \
    e2e_wait_picture "$HOSTILE_FRAMES/$scale-$colours.png" 5 ||
    e2e_log "$label: differing pixels: $E2E_DIFFERENCE"
  e2e_check "$label: the statistics title" e2e_wait_title 'KESTRAVU [* frames/sec] [* bytes/frame]' 10
  e2e_menu 0 0  # File > Quit
  e2e_wait_exit 15
  e2e_equal "$label: exit code after Quit" 0 "$E2E_EXIT"
  hostile_check_read_size "$label" "$size"
}

hostile_wait_width() {
  local deadline=$((SECONDS + 5))
  while e2e_read_window && [ "$(cut -d' ' -f3 <<<"$E2E_WINDOW")" != "$1" ] && [ "$SECONDS" -lt "$deadline" ]; do
    sleep 0.1
  done
  [ "$(cut -d' ' -f3 <<<"$E2E_WINDOW")" = "$1" ]
}

# Section names are compared without regard to case, as the profile functions do.
hostile_without_ours() {
  awk '/^\[/ { ours = tolower($0) ~ /^\[section\]\r?$/ }
       !(ours && /^(wide|scr4|bufsize)=/)' "$1"
}

hostile_section_value() {
  tr -d '\r' <"${2:-$E2E_DIR/KESTRAVU.ini}" |
    awk -v key="$1" '/^\[/ { ours = tolower($0) == "[section]" }
                     ours && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }'
}

# Root writes to any file whatever its mode, so then the file is also made immutable.
hostile_make_read_only() {
  chmod a-w "$1"
  [ "$(id -u)" != 0 ] || chattr +i "$1" 2>/dev/null
  if (: >>"$1") 2>/dev/null; then
    e2e_fail "cannot make $1 read-only here (as root this needs chattr)"
    return 1
  fi
}

hostile_make_writable() {
  [ "$(id -u)" != 0 ] || chattr -i "$1" 2>/dev/null
  chmod u+w "$1"
}

hostile_check_quiet_end() {
  e2e_check "$1: no message box" eval '! e2e_probe message 3 >/dev/null'
  e2e_wait_exit 15
  e2e_equal "$1: exit code" 0 "$E2E_EXIT"
}

hostile_saved() {
  e2e_equal "$1: settings saved" "wide=${2% * *} scr4=$(cut -d' ' -f2 <<<"$2") bufsize=${2##* }" \
    "wide=$(hostile_section_value wide) scr4=$(hostile_section_value scr4) bufsize=$(hostile_section_value bufsize)"
}

hostile_open_dialog() {
  e2e_menu 1 2  # Mode > USB Buffer Size
  HOSTILE_DIALOG=$(e2e_probe dialog 10)
}

hostile_enter_text() {
  # shellcheck disable=SC2046
  e2e_click $(e2e_center "$(e2e_field edit_rect "$HOSTILE_DIALOG")")
  e2e_key End shift+Home BackSpace
  e2e_type "$1"
}

hostile_click_ok() {
  # shellcheck disable=SC2046
  e2e_click $(e2e_center "$(e2e_field ok_rect "$HOSTILE_DIALOG")")
}
