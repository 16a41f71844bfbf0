#!/usr/bin/env bash
# No settings file and the stand-in's built-in pattern: the title keeps "KESTRAVU" until the
# tenth frame, then shows the frame rate and the bytes per frame; Quit from the menu ends the
# program with exit code 0 and a settings file with the defaults, in their order.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_init "$1"
e2e_find_stream_tool

# Nine frames, then silence: all nine are shown and the title has not changed.
"$E2E_TOOL" pattern -o "$E2E_DIR/nine.kvs" --frames 9 >/dev/null
"$E2E_TOOL" decode "$E2E_DIR/nine.kvs" "$E2E_DIR/nine" >/dev/null
e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$E2E_DIR/nine.kvs")"
e2e_wait_window || e2e_abort "no main window"
e2e_check "the ninth frame is shown" e2e_wait_picture "$E2E_DIR/nine/frame-00008.png" 10 ||
  e2e_log "differing pixels: $E2E_DIFFERENCE"
e2e_read_window
e2e_equal "the title after nine frames" "KESTRAVU" "$E2E_TITLE"
e2e_wait_exit 15
rm -f "$E2E_DIR/KESTRAVU.ini"

# The endless pattern at the device's 60 frames a second.
e2e_start
e2e_wait_title 'KESTRAVU [* frames/sec] [* bytes/frame]' 20 ||
  e2e_abort "no statistics in the title; last title '$E2E_TITLE'"
"$E2E_TOOL" pattern -o "$E2E_DIR/pattern.kvs" --frames 600 >/dev/null
info=$("$E2E_TOOL" info "$E2E_DIR/pattern.kvs")
smallest=$(sed -n 's/^bytes per frame: min \([0-9]*\),.*/\1/p' <<<"$info")
largest=$(sed -n 's/^bytes per frame: .*max \([0-9]*\)$/\1/p' <<<"$info")
rates=()
for _ in 1 2 3 4 5 6 7; do
  e2e_read_window
  rate=$(sed -n 's/^KESTRAVU \[\([0-9]*\) frames\/sec\] \[[0-9]*\ bytes\/frame\]$/\1/p' <<<"$E2E_TITLE")
  bytes=$(sed -n 's/^KESTRAVU \[[0-9]*\ frames\/sec\] \[\([0-9]*\) bytes\/frame\]$/\1/p' <<<"$E2E_TITLE")
  if [ -z "$rate" ] || [ -z "$bytes" ]; then
    e2e_fail "title not in the statistics format: '$E2E_TITLE'"
    continue
  fi
  rates+=("$rate")
  # A ten-frame mean lies between the pattern's smallest and largest frame.
  e2e_check "bytes/frame $bytes within the pattern's $smallest ... $largest" \
    test "$bytes" -ge "$smallest" -a "$bytes" -le "$largest"
  sleep 0.1
done
median=$(printf '%s\n' "${rates[@]}" | sort -n | sed -n "$(((${#rates[@]} + 1) / 2))p")
e2e_check "frames/sec near 60 (samples ${rates[*]})" test "${median:-0}" -ge 40 -a "${median:-0}" -le 90

if [ "${KESTRAVU_UPDATE_SCREENSHOT:-}" = 1 ]; then
  e2e_capture "$E2E_ROOT/docs/kestravu.png" "$E2E_WINDOW"
  e2e_log "screenshot written to docs/kestravu.png"
fi

e2e_menu 0 0  # File > Quit
e2e_wait_exit 15
e2e_equal "exit code after Quit" 0 "$E2E_EXIT"
e2e_equal "settings file" "$(printf '[section]\nwide=0\nscr4=0\nbufsize=32')" \
  "$(tr -d '\r' <"$E2E_DIR/KESTRAVU.ini" 2>/dev/null)"
e2e_finish
