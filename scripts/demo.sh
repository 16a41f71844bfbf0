#!/usr/bin/env bash
# Runs the viewer on the simulated capture device's test pattern, in a real window.
# Installs what is missing and builds first. Uses the current X display, or a virtual one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
if [ ! -f build/windows/app/KESTRAVU.exe ]; then
  echo "demo: the viewer program is not built yet (the window comes with a later change)" >&2
  exit 1
fi
# The stand-in device library goes beside a copy of the program, never into the build output.
demo_dir=$(mktemp -d /tmp/kestravu-demo.XXXXXX)
cp build/windows/app/KESTRAVU.exe build/windows/tools/device_sim/FTD2XX.dll "$demo_dir/"
echo "demo: running $demo_dir/KESTRAVU.exe (close the window or choose File > Quit to end)"
exec scripts/with-display.sh wine "$demo_dir/KESTRAVU.exe"
