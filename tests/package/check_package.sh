#!/usr/bin/env bash
# Makes the Debian package with cpack and checks it: its files, the udev rule, the manual page
# and the dependencies dpkg-shlibdeps found; then installs it (root only, as CI runs) and runs
# the installed viewer offscreen on the simulated device until the stream ends.
# Usage: check_package.sh BUILD_DIR   exit 0 passed, 1 failed, 77 package fine but not root
set -uo pipefail
build=$(cd "$1" && pwd)
failures=0
check() {  # DESCRIPTION COMMAND...
  local description=$1
  shift
  if "$@"; then echo "ok: $description"; else echo "FAIL: $description"; failures=$((failures + 1)); fi
}
finish() { echo "$failures failed"; [ "$failures" -eq 0 ] || exit 1; exit "${1:-0}"; }
# Both are run through check.
# shellcheck disable=SC2317
lacks() { ! grep -q "$1" <<<"$2"; }  # PATTERN TEXT
# shellcheck disable=SC2317
output_has() { "${@:2}" 2>/dev/null | grep -q "$1"; }  # PATTERN COMMAND...

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
package=$build/kestravu_${version}_amd64.deb
rm -f "$package"
(cd "$build" && cpack -G DEB >/dev/null) || { echo "FAIL: cpack"; exit 1; }
check "cpack made kestravu_${version}_amd64.deb" test -f "$package"
[ -f "$package" ] || finish

contents=$(dpkg-deb -c "$package" | awk '{print $6}')
for path in ./usr/bin/kestravu ./usr/bin/kestravu-stream ./usr/share/applications/kestravu.desktop \
            ./usr/share/icons/hicolor/32x32/apps/kestravu.png ./usr/share/man/man1/kestravu-stream.1.gz \
            ./usr/share/mime/packages/kestravu.xml; do
  check "package holds $path" grep -qx "$path" <<<"$contents"
done
check "no libftd2xx in the package" lacks libftd2xx "$contents"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$package" "$unpacked"
# uaccess only works from a rule that runs before the seat rules (73-seat-late.rules).
rule=$(grep -o '[^/]*kestravu[^/]*\.rules$' <<<"$contents")
check "udev rule '$rule' sorts before 73-seat-late.rules" test -n "$rule" -a "$rule" "<" 73-seat-late.rules
rules=$unpacked/usr/lib/udev/rules.d/$rule
for product in 6001 6010 6011 6014 6015; do
  check "udev rule tags 0403:$product \"KESTRAVU\" uaccess" grep -qE "^SUBSYSTEM==\"usb\", \
ENV\{DEVTYPE\}==\"usb_device\", ATTRS?\{idVendor\}==\"0403\", ATTRS?\{idProduct\}==\"$product\", \
ATTRS?\{product\}==\"KESTRAVU\", TAG\+=\"uaccess\"$" "$rules"
done
desktop=$unpacked/usr/share/applications/kestravu.desktop
check "desktop entry runs kestravu with a file" grep -qx 'Exec=kestravu %f' "$desktop"
check "desktop entry opens recorded streams" grep -qx 'MimeType=application/x-kestravu-stream;' "$desktop"
check "*.kvs is a recorded stream" grep -q '<glob pattern="\*\.kvs"/>' "$unpacked/usr/share/mime/packages/kestravu.xml"
check "desktop entry names the icon" grep -qx 'Icon=kestravu' "$desktop"
check "icon is a 32 x 32 PNG" output_has "PNG image data, 32 x 32" \
  file "$unpacked/usr/share/icons/hicolor/32x32/apps/kestravu.png"
check "manual page is section 1 of kestravu-stream" \
  output_has "^\.TH KESTRAVU-STREAM 1" zcat "$unpacked/usr/share/man/man1/kestravu-stream.1.gz"
depends=$(dpkg-deb -f "$package" Depends)
for library in libqt6widgets6 libqt6gui6 libqt6core6 libftdi1-2; do
  check "Depends lists $library" grep -q "\b$library\b" <<<"$depends"
done

[ "$(id -u)" -eq 0 ] || { echo "skipped: installing needs root"; finish 77; }
was_installed=$(dpkg-query -W -f='${Status}' kestravu 2>/dev/null | grep -c "ok installed")
if ! dpkg -i "$package" >/dev/null; then
  apt-get install -f -y -q -o DPkg::Lock::Timeout=120 >/dev/null
fi
check "dpkg installed kestravu $version" \
  test "$(dpkg-query -W -f='${Status} ${Version}' kestravu 2>/dev/null)" = "install ok installed $version"
[ "$was_installed" -gt 0 ] || trap 'rm -rf "$unpacked"; dpkg -r kestravu >/dev/null' EXIT

check "kestravu --version prints $version" test "$(/usr/bin/kestravu --version)" = "kestravu $version"
check "kestravu-stream --help prints its usage" output_has "^usage:" /usr/bin/kestravu-stream --help
# A short stream played once: the viewer shows it, the device falls silent and the viewer ends
# by itself after the 3-second read time-out, saving its settings.
/usr/bin/kestravu-stream pattern -o "$unpacked/stream" --frames 30 >/dev/null
QT_QPA_PLATFORM=offscreen LD_LIBRARY_PATH=$build/sim XDG_CONFIG_HOME=$unpacked/config \
  KESTRAVU_SIM_STREAM=$unpacked/stream KESTRAVU_SIM_LOG=$unpacked/device.log \
  timeout 30 /usr/bin/kestravu 2>/dev/null
status=$?
check "installed viewer ran to the end of the stream and exited with 0 (got $status)" test "$status" -eq 0
received=$(awk -F'received=' '/^FT_Read /{sum += $2} END {print sum + 0}' "$unpacked/device.log" 2>/dev/null)
check "it read the whole stream from the simulated device" test "${received:-0}" -eq "$(stat -c %s "$unpacked/stream")"
check "it saved its settings" grep -qx 'bufsize=32' "$unpacked/config/kestravu/KESTRAVU.ini"
finish
