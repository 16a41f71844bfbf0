#!/usr/bin/env bash
# Runs the viewer on the simulated capture device's test pattern, in a real window:
#   scripts/demo.sh            the Linux viewer, kestravu (native preset)
#   scripts/demo.sh --windows  the Windows program, KESTRAVU.exe, under Wine (windows preset)
# Installs what is missing and builds first. With an X display the window stays until it is
# closed or File > Quit is chosen. Without one the viewer runs on a virtual display for a few
# seconds; the demo then saves a screenshot, prints the title, quits through the menu and
# shows the exit code and the saved settings file. With KESTRAVU_UPDATE_SCREENSHOT=1 the
# native screenshot also becomes docs/kestravu-linux.png.
# KESTRAVU_NATIVE_BUILD and KESTRAVU_WINDOWS_BUILD name other build folders for the presets
# (default build/native and build/windows).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native_build=${KESTRAVU_NATIVE_BUILD:-$root/build/native}
windows_build=${KESTRAVU_WINDOWS_BUILD:-$root/build/windows}

# Waits for the main window, shows it for a while, saves a screenshot, prints the title and
# quits with the keys given. Sets $window.
show_and_quit() {  # SCREENSHOT QUIT-KEYS...
  local screenshot=$1
  shift
  window=""
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name '^KESTRAVU' 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "demo: the viewer's window did not appear" >&2; return 1; }
  sleep 3  # the title shows the frame rate from the tenth frame on
  echo "demo: window title: $(xdotool getwindowname "$window")"
  import -window "$window" "$screenshot"
  echo "demo: screenshot: $screenshot"
  xdotool windowfocus --sync "$window" key "$@"
}

# Second stage, on the virtual display that scripts/with-display.sh started.
if [ "${1:-}" = "--on-virtual-display" ]; then
  program=$2
  cd "$3"
  status=0
  if [ "$program" = native ]; then
    XDG_CONFIG_HOME=$PWD/config LD_LIBRARY_PATH=$native_build/sim "$native_build/app/qt/kestravu" &
    viewer=$!
    # The menus have mnemonics: Alt+F opens File, Q chooses Quit.
    show_and_quit "$PWD/screenshot.png" alt+f q || { kill "$viewer"; exit 1; }
    wait "$viewer" || status=$?
    settings=$PWD/config/kestravu/KESTRAVU.ini
    if [ "${KESTRAVU_UPDATE_SCREENSHOT:-}" = 1 ]; then
      cp screenshot.png "$root/docs/kestravu-linux.png"
      echo "demo: saved as docs/kestravu-linux.png"
    fi
  else
    wine KESTRAVU.exe &
    viewer=$!
    # The menu has no shortcut letters: F10 opens the menu bar at File, Down reaches Quit.
    show_and_quit "$PWD/screenshot.png" F10 Down Return || { kill "$viewer"; exit 1; }
    wait "$viewer" || status=$?
    settings=$PWD/KESTRAVU.ini
    wineserver -w  # let Wine's own processes end before the virtual display goes
  fi
  echo "demo: the viewer ended with exit code $status; its settings file $settings:"
  cat "$settings"
  exit "$status"
fi

cd "$root"
bash scripts/setup.sh
demo_dir=$(mktemp -d /tmp/kestravu-demo.XXXXXX)
if [ "${1:-}" = "--windows" ]; then
  program=windows
  cmake --preset windows -B "$windows_build" >/dev/null
  cmake --build "$windows_build" --target KESTRAVU device_sim
  # The stand-in device library goes beside a copy of the program, never into the build output.
  cp "$windows_build/app/win32/KESTRAVU.exe" "$windows_build/sim/FTD2XX.dll" "$demo_dir/"
else
  program=native
  cmake --preset native -B "$native_build" >/dev/null
  cmake --build "$native_build" --target kestravu device_sim
fi
if [ -z "${DISPLAY:-}" ]; then
  export KESTRAVU_NATIVE_BUILD=$native_build
  exec scripts/with-display.sh "$root/scripts/demo.sh" --on-virtual-display "$program" "$demo_dir"
fi
cd "$demo_dir"
if [ "$program" = native ]; then
  # The simulated device is found as the driver library; the settings go to a scratch folder.
  echo "demo: running $native_build/app/qt/kestravu (close the window or choose File > Quit to end)"
  XDG_CONFIG_HOME=$demo_dir/config LD_LIBRARY_PATH=$native_build/sim exec "$native_build/app/qt/kestravu"
fi
echo "demo: running $demo_dir/KESTRAVU.exe (close the window or choose File > Quit to end)"
exec "$root/scripts/with-display.sh" wine KESTRAVU.exe
