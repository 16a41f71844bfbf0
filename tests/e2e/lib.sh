# Helpers for the end-to-end cases: the real KESTRAVU.exe under 32-bit Wine on an X display,
# driven with real keyboard and mouse events (xdotool), its picture read back from the screen
# (ImageMagick), its windows read by a probe program running under the same Wine.
#
# A case is a script tests/e2e/case_NAME.sh, registered by tests/e2e.cmake on its own, run as
#   bash tests/e2e/case_NAME.sh BUILD_DIR
# under scripts/with-display.sh (which sets DISPLAY and WINEPREFIX). It sources this file and:
#
#   e2e_init BUILD_DIR        fresh scratch folder $E2E_DIR holding KESTRAVU.exe and FTD2XX.dll;
#                             prepares the Wine prefix; $E2E_ROOT is the source tree
#   e2e_write_ini TEXT        writes TEXT (printf format, \n line ends) as $E2E_DIR/KESTRAVU.ini
#   e2e_sim_log               the stand-in's log of driver calls, one call a line
#   e2e_delivered_bytes       the sum of what the stand-in's reads delivered, from that log
#   e2e_ini_value KEY         the value of KEY in the settings file ("" when missing)
#   e2e_start [NAME=VALUE...] starts the program in the background with those environment
#                             variables (the stand-in's, e.g. KESTRAVU_SIM_STREAM=$(e2e_win_path F));
#                             the stand-in logs every driver call to $E2E_LOG
#   e2e_wait_window [SECS]    waits for the main window and reads it (see e2e_read_window)
#   e2e_read_window           probes the main window: $E2E_TITLE, $E2E_WINDOW and $E2E_CLIENT
#                             ("x y width height" in screen pixels)
#   e2e_wait_title GLOB [SECS]  waits until the title matches GLOB (* and ?), then reads it
#   e2e_wait_exit [SECS]      waits for the program to end; its exit code in $E2E_EXIT
#   e2e_probe ARGS...         runs the probe (see probe.cpp), output on stdout
#   e2e_field KEY TEXT        the value of "KEY=value" in probe output TEXT
#   e2e_menu MENU ITEM        chooses a menu command with the keyboard: Alt, arrows, Enter
#                             (MENU: 0 File, 1 Mode; ITEM: index in the drop-down)
#   e2e_quit_with_mouse       clicks File in the menu bar, then Quit
#   e2e_menu_checks           opens Mode, reads the check marks drawn beside Wide and Screen4
#                             into $E2E_WIDE_CHECKED and $E2E_SCREEN4_CHECKED (0/1), closes it
#   e2e_click X Y             moves the mouse there and clicks the left button
#   e2e_center "x y w h"      the centre of a rectangle, as "X Y"
#   e2e_close_box "x y w h"   the centre of the close box in the caption of a window there
#   e2e_key KEYS...           / e2e_type TEXT: keyboard input, pointer kept over the window
#   e2e_capture FILE "x y w h"  writes that part of the screen as a PNG
#   e2e_differing_pixels A B  the number of pixels that differ between two PNGs of one size
#   e2e_crop IN OUT W H       the top-left W x H of IN
#   e2e_wait_picture PNG [SECS]  waits until the client area shows exactly the top-left of PNG
#                             (the window cuts the picture's right and bottom edges off); the
#                             last count of differing pixels in $E2E_DIFFERENCE
#   e2e_find_stream_tool      sets $E2E_TOOL, the native kestravu-stream (built if not found)
#   e2e_win_path PATH         the Windows form (Z:\...) of a Unix path
#   e2e_check DESC CMD...     records "ok" or "FAIL" for DESC by running CMD; CMD's success
#   e2e_equal DESC EXPECTED ACTUAL  checks two strings
#   e2e_fail DESC             records a failure; e2e_abort DESC also ends the case
#   e2e_finish                ends the program if still running, prints the tally, sets the
#                             case's exit code (0 only if every check passed)
# Everything a case leaves (screens, log, settings file) stays in $E2E_DIR for a look afterwards.

set -uo pipefail

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_CASE=$(basename "$0" .sh)
E2E_CASE=${E2E_CASE#case_}
E2E_PASSED=0
E2E_FAILED=0
E2E_PID=""
E2E_EXIT=""
# Wine takes the system's ANSI code page from the locale (glibc need not know it). The program's
# own texts must read the same whatever that code page; a case may set another locale.
E2E_LOCALE=${E2E_LOCALE:-ja_JP.UTF-8}

e2e_log() { printf '[%s] %s\n' "$E2E_CASE" "$*"; }

e2e_fail() {
  E2E_FAILED=$((E2E_FAILED + 1))
  e2e_log "FAIL: $*"
}

e2e_pass() {
  E2E_PASSED=$((E2E_PASSED + 1))
  e2e_log "ok: $*"
}

e2e_abort() {
  e2e_fail "$*"
  e2e_finish
}

e2e_check() {
  local description=$1
  shift
  if "$@"; then e2e_pass "$description"; else e2e_fail "$description"; return 1; fi
}

e2e_equal() {
  if [ "$2" = "$3" ]; then
    e2e_pass "$1 ($3)"
  else
    e2e_fail "$1: expected '$2', got '$3'"
  fi
}

e2e_win_path() { printf 'Z:%s' "${1//\//\\}"; }

e2e_wine() { env LC_ALL="$E2E_LOCALE" wine "$@"; }

# --- set-up -------------------------------------------------------------------------------

e2e_init() {
  E2E_BUILD=$(cd "$1" && pwd) || { echo "e2e: no build folder $1" >&2; exit 1; }
  trap e2e_stop_program EXIT
  [ -n "${DISPLAY:-}" ] || e2e_abort "no X display: run the tests under scripts/with-display.sh"
  # scripts/with-display.sh also readies the prefix: Wine's own captions, the Marlett font.
  [ -f "${WINEPREFIX:-}/system.reg" ] || e2e_abort "no Wine prefix: run the tests under scripts/with-display.sh"
  export WINEDEBUG=${WINEDEBUG:--all}
  E2E_EXE="$E2E_BUILD/app/win32/KESTRAVU.exe"
  E2E_DLL="$E2E_BUILD/sim/FTD2XX.dll"
  E2E_PROBE="$E2E_BUILD/tests/kestravu-e2e-probe.exe"
  local file
  for file in "$E2E_EXE" "$E2E_DLL" "$E2E_PROBE"; do
    [ -f "$file" ] || e2e_abort "not built: $file"
  done
  E2E_DIR="$E2E_BUILD/e2e-scratch/$E2E_CASE"
  rm -rf "$E2E_DIR"
  mkdir -p "$E2E_DIR"
  cp "$E2E_EXE" "$E2E_DLL" "$E2E_DIR/"
  E2E_LOG="$E2E_DIR/sim.log"
  e2e_log "scratch folder $E2E_DIR"
}

# The native stream tool: $KESTRAVU_STREAM_TOOL, the native build's, or one built here.
e2e_find_stream_tool() {
  E2E_TOOL=${KESTRAVU_STREAM_TOOL:-$E2E_ROOT/build/native/tools/stream/kestravu-stream}
  [ -x "$E2E_TOOL" ] && return
  E2E_TOOL="$E2E_ROOT/build/e2e-tool/tools/stream/kestravu-stream"
  [ -x "$E2E_TOOL" ] && return
  e2e_log "building the native stream tool in build/e2e-tool"
  (cd "$E2E_ROOT" && cmake --preset native -B build/e2e-tool >/dev/null &&
     cmake --build build/e2e-tool --target kestravu-stream >/dev/null) ||
    e2e_abort "the native stream tool kestravu-stream could not be built"
}

e2e_write_ini() {
  # shellcheck disable=SC2059
  printf "$1" >"$E2E_DIR/KESTRAVU.ini"
}

e2e_sim_log() { tr -d '\r' <"$E2E_LOG"; }
e2e_delivered_bytes() { e2e_sim_log | awk -f "$E2E_ROOT/tests/support/delivered_bytes.awk" | cut -d' ' -f1; }

e2e_ini_value() {
  sed -n "s/^$1=//p" "$E2E_DIR/KESTRAVU.ini" 2>/dev/null | tr -d '\r' | head -n 1
}

# --- the program ---------------------------------------------------------------------------

# Started from another working folder, so that the settings file can only be found beside the
# program file.
e2e_start() {
  : >"$E2E_LOG"
  (cd / && exec env "KESTRAVU_SIM_LOG=$(e2e_win_path "$E2E_LOG")" "$@" \
     LC_ALL="$E2E_LOCALE" wine "$E2E_DIR/KESTRAVU.exe" >"$E2E_DIR/wine.out" 2>&1) &
  E2E_PID=$!
  E2E_EXIT=""
}

e2e_running() { [ -n "$E2E_PID" ] && kill -0 "$E2E_PID" 2>/dev/null; }

e2e_wait_exit() {
  local seconds=${1:-15} waited=0
  while e2e_running && [ "$waited" -lt $((seconds * 10)) ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if e2e_running; then
    e2e_fail "the program did not end within $seconds s"
    e2e_stop_program
    return 1
  fi
  wait "$E2E_PID"
  E2E_EXIT=$?
  E2E_PID=""
  return 0
}

e2e_stop_program() {
  if e2e_running; then
    kill "$E2E_PID" 2>/dev/null
    wait "$E2E_PID" 2>/dev/null
  fi
  E2E_PID=""
}

# Wine's console ends the probe's lines with CR LF.
e2e_probe() { e2e_wine "$E2E_PROBE" "$@" | tr -d '\r'; }

e2e_field() { printf '%s\n' "$2" | sed -n "s/^$1=//p" | head -n 1; }

e2e_take_window() {
  E2E_TITLE=$(e2e_field title "$1")
  E2E_WINDOW=$(e2e_field window "$1")
  E2E_CLIENT=$(e2e_field client "$1")
}

e2e_read_window() {
  local output
  output=$(e2e_probe window) || return 1
  e2e_take_window "$output"
}

e2e_wait_window() { e2e_wait_title '*' "${1:-20}"; }

e2e_wait_title() {
  local output
  output=$(e2e_probe wait-title "$1" "${2:-20}") || {
    E2E_TITLE=$(e2e_field last_title "$output")
    return 1
  }
  e2e_take_window "$output"
}

# --- input ---------------------------------------------------------------------------------

e2e_center() {
  local x y w h
  read -r x y w h <<<"$1"
  printf '%d %d' $((x + w / 2)) $((y + h / 2))
}

# Key events go to the window under the pointer when nothing holds the X input focus; the
# bottom-right part of the client area is covered by neither the menus nor the dialog.
e2e_point_at_window() {
  local x y w h
  read -r x y w h <<<"$E2E_CLIENT"
  xdotool mousemove $((x + w * 3 / 4)) $((y + h * 3 / 4))
}

e2e_key() {
  e2e_point_at_window
  xdotool key --delay 60 "$@"
}

e2e_type() {
  e2e_point_at_window
  xdotool type --delay 60 -- "$1"
}

# The caption's buttons sit inside the fixed frame, the close box rightmost with a small gap.
e2e_close_box() {
  local x y w h
  read -r x y w h <<<"$1"
  [ -n "${E2E_METRICS:-}" ] || E2E_METRICS=$(e2e_probe metrics)
  local frame caption button
  frame=$(e2e_field cxfixedframe "$E2E_METRICS")
  caption=$(e2e_field cycaption "$E2E_METRICS")
  button=$(e2e_field cxsize "$E2E_METRICS")
  printf '%d %d' $((x + w - frame - 2 - button / 2)) $((y + frame + caption / 2))
}

e2e_click() {
  xdotool mousemove "$1" "$2"
  sleep 0.1
  xdotool click 1
}

# Alt alone opens the menu bar at File; the items carry no mnemonics, so arrows choose.
e2e_menu() {
  local keys=(alt) i
  for ((i = 0; i < $1; i++)); do keys+=(Right); done
  keys+=(Down)
  for ((i = 0; i < $2; i++)); do keys+=(Down); done
  keys+=(Return)
  e2e_key "${keys[@]}"
}

# File is the menu bar's first item, so its left end is known without reading the menu: just
# right of the client area's left edge, in the bar above the client area.
e2e_quit_with_mouse() {
  local x y w h output popup
  [ -n "${E2E_METRICS:-}" ] || E2E_METRICS=$(e2e_probe metrics)
  read -r x y w h <<<"$E2E_CLIENT"
  e2e_click $((x + 8)) $((y - $(e2e_field cymenu "$E2E_METRICS") / 2))
  output=$(e2e_probe popup 5) || { e2e_fail "the File menu did not open"; return 1; }
  popup=$(e2e_field popup "$output")
  read -r x y w h <<<"$popup"
  sleep 0.2
  e2e_click $((x + w / 2)) $((y + h / 2))  # Quit, the menu's one item
}

# A menu belongs to the program's process, and Wine answers no other process about its check
# marks, so they are read from the drawn drop-down: a check mark is the only thing drawn in an
# item's left margin, which is otherwise one flat colour.
e2e_menu_checks() {
  E2E_WIDE_CHECKED="" E2E_SCREEN4_CHECKED=""
  e2e_key alt Right Down
  E2E_SHOTS=$((${E2E_SHOTS:-0} + 1))
  local output popup x y w h item_height shot="$E2E_DIR/menu-$E2E_SHOTS.png"
  output=$(e2e_probe popup 5) || { e2e_fail "the Mode menu did not open"; e2e_key Escape Escape; return 1; }
  popup=$(e2e_field popup "$output")
  read -r x y w h <<<"$popup"
  sleep 0.3  # the drop-down is drawn after it is shown
  e2e_capture "$shot" "$popup"
  item_height=$(((h - 6) / 3))
  E2E_WIDE_CHECKED=$(e2e_margin_marked "$shot" 0 "$item_height")
  E2E_SCREEN4_CHECKED=$(e2e_margin_marked "$shot" 1 "$item_height")
  e2e_key Escape Escape
  e2e_probe popup-gone 5 >/dev/null || e2e_fail "the Mode menu did not close"
}

e2e_margin_marked() {
  local colours
  colours=$(convert "$1" -crop "12x$(($3 - 4))+4+$((3 + $2 * $3 + 2))" +repage -unique-colors -format '%w' info:)
  [ "$colours" -gt 1 ] && echo 1 || echo 0
}

# --- pixels --------------------------------------------------------------------------------

e2e_capture() {
  local x y w h
  read -r x y w h <<<"$2"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "png24:$1"
}

e2e_crop() { convert "$1" -crop "${3}x${4}+0+0" +repage "png24:$2"; }

e2e_size() { identify -format '%wx%h' "$1"; }

e2e_differing_pixels() {
  if [ "$(e2e_size "$1")" != "$(e2e_size "$2")" ]; then
    echo "size $(e2e_size "$1") against $(e2e_size "$2")"
    return
  fi
  compare -metric AE "$1" "$2" null: 2>&1
}

e2e_wait_picture() {
  local seconds=${2:-5} x y w h shot="$E2E_DIR/client.png" cut="$E2E_DIR/expected-cut.png"
  read -r x y w h <<<"$E2E_CLIENT"
  e2e_crop "$1" "$cut" "$w" "$h"
  local deadline=$((SECONDS + seconds))
  while :; do
    e2e_capture "$shot" "$E2E_CLIENT"
    E2E_DIFFERENCE=$(e2e_differing_pixels "$cut" "$shot")
    [ "$E2E_DIFFERENCE" = 0 ] && return 0
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.1
  done
}

# --- the end ---------------------------------------------------------------------------------

e2e_finish() {
  e2e_stop_program
  trap - EXIT
  e2e_log "$E2E_PASSED passed, $E2E_FAILED failed"
  [ "$E2E_FAILED" -eq 0 ] && [ "$E2E_PASSED" -gt 0 ]
  exit $?
}
