#!/usr/bin/env bash
# The picture on the screen: with a known stream served, the client area's pixels equal the
# stream tool's decoding of the same frame, at both scales and in both colour modes, apart from
# the right and bottom edges that the window cuts off. Ten frames and then silence, so the
# last frame stays on the screen until the program ends by itself.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_init "$1"
e2e_find_stream_tool

stream="$E2E_DIR/ten.kvs"
"$E2E_TOOL" pattern -o "$stream" --frames 10 >/dev/null
stream_bytes=$(stat -c %s "$stream")

for mode in "0 0" "0 1" "1 0" "1 1"; do
  read -r wide screen4 <<<"$mode"
  flags=() label="normal scale"
  [ "$wide" = 1 ] && flags+=(--wide) label="Wide"
  [ "$screen4" = 1 ] && flags+=(--screen4) label="$label, Screen4" || label="$label, palette"
  frames="$E2E_DIR/frames-$wide$screen4"
  "$E2E_TOOL" decode "$stream" "$frames" "${flags[@]}" >/dev/null

  e2e_write_ini "[section]\nwide=$wide\nscr4=$screen4\nbufsize=32\n"
  e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$stream")"
  # The statistics title comes with the tenth frame, the last one.
  if ! e2e_wait_title 'KESTRAVU [*' 20; then
    e2e_fail "$label: no statistics title after ten frames; last title '$E2E_TITLE'"
    e2e_wait_exit 15
    continue
  fi
  e2e_equal "$label: title bytes/frame is the stream's mean" "$((stream_bytes / 10))" \
    "$(sed -n 's/.*\[\([0-9]*\) bytes\/frame\]$/\1/p' <<<"$E2E_TITLE")"
  if e2e_wait_picture "$frames/frame-00009.png" 2; then
    read -r _ _ w h <<<"$E2E_CLIENT"
    e2e_pass "$label: the client area (${w}x$h) shows the tenth frame exactly"
  else
    e2e_fail "$label: the client area differs from the tenth frame: $E2E_DIFFERENCE pixels"
    cp "$E2E_DIR/client.png" "$E2E_DIR/client-$wide$screen4.png"
  fi
  e2e_wait_exit 15
  e2e_equal "$label: exit code when the stream has ended" 0 "$E2E_EXIT"
done
e2e_finish
