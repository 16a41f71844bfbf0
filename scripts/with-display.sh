#!/usr/bin/env bash
# Runs a command with what Windows programs need here: a 32-bit Wine prefix and an X display.
# Starts a virtual display (Xvfb) only when there is none, and stops what it started.
# Usage: scripts/with-display.sh COMMAND [ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win32
export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

xvfb_pid=""
cleanup() {
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  for number in $(seq 77 99); do
    [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] && continue
    Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$number"
    break
  done
  [ -n "$xvfb_pid" ] || { echo "with-display: no free display number" >&2; exit 1; }
  for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
  done
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
# Wine draws the caption, its buttons and the frame itself only for windows it does not leave
# to a window manager; on a bare virtual display "managed" windows would have no caption.
# The caption buttons and menu check marks need the Marlett font in the prefix.
if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
fi
# Japanese texts need a font with their glyphs whatever the locale: Wine's fallbacks for them
# name the usual Windows Japanese fonts, which the IPA Gothic font stands in for.
if ! grep -q '"MS UI Gothic"="IPAGothic"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  for font in "MS UI Gothic" "MS Gothic"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d IPAGothic /f >/dev/null 2>&1
  done
  wineserver -w
fi
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ ! -f "$fonts/marlett.ttf" ] && [ -f /usr/share/wine/fonts/marlett.ttf ]; then
  mkdir -p "$fonts" && cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
fi

"$@"
