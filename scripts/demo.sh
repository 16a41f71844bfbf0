#!/usr/bin/env bash
# Runs the viewer on the simulated capture device's test pattern, in a real window.
# Installs what is missing and builds first. With an X display the window stays until it is
# closed or File > Quit is chosen. Without one the viewer runs on a virtual display for a few
# seconds; the demo then saves a screenshot, quits through the menu and shows what was saved.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# Second stage, on the virtual display that scripts/with-display.sh started.
if [ "${1:-}" = "--on-virtual-display" ]; then
  cd "$2"
  wine KESTRAVU.exe &
  viewer=$!
  window=""
  for _ in $(seq 100); do
    window=$(xdotool search --name '^KESTRAVU' 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "demo: the viewer's window did not appear" >&2; kill "$viewer"; exit 1; }
  sleep 3  # the title shows the frame rate from the tenth frame on
  echo "demo: window title: $(xdotool getwindowname "$window")"
  import -window "$window" screenshot.png
  echo "demo: screenshot: $2/screenshot.png"
  # The menu has no shortcut letters: F10 opens the menu bar at File, Down reaches Quit.
  xdotool windowfocus "$window" key F10 Down Return
  status=0
  wait "$viewer" || status=$?
  echo "demo: the viewer ended with exit code $status; its settings file KESTRAVU.ini:"
  cat KESTRAVU.ini
  wineserver -w  # let Wine's own processes end before the virtual display goes
  exit "$status"
fi

cd "$root"
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
# The stand-in device library goes beside a copy of the program, never into the build output.
demo_dir=$(mktemp -d /tmp/kestravu-demo.XXXXXX)
cp build/windows/app/KESTRAVU.exe build/windows/tools/device_sim/FTD2XX.dll "$demo_dir/"
if [ -z "${DISPLAY:-}" ]; then
  exec scripts/with-display.sh "$root/scripts/demo.sh" --on-virtual-display "$demo_dir"
fi
echo "demo: running $demo_dir/KESTRAVU.exe (close the window or choose File > Quit to end)"
cd "$demo_dir"
exec "$root/scripts/with-display.sh" wine KESTRAVU.exe
