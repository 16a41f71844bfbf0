#!/usr/bin/env bash
# Builds the Debian package with dpkg-buildpackage (packaging/build-deb.sh) and checks it:
# lintian finds nothing, the metainfo and the desktop entry validate, its files, udev rule and
# dependencies are right. Then (root only, as CI runs) installs it with apt-get into a clean
# Debian 12 minbase system and runs the installed programs there. That system is made once
# with debootstrap and kept in CACHE_DIR, with the packages apt downloaded; each run works on
# a fresh copy of it, so nothing is ever installed on this machine.
# Usage: check_package.sh BUILD_DIR CACHE_DIR   exit 0 passed, 1 failed, 77 not root
set -uo pipefail
build=$(cd "$1" && pwd)
cache=$2
tree=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/package
failures=0
check() {  # DESCRIPTION COMMAND...
  local description=$1
  shift
  if "$@"; then echo "ok: $description"; else echo "FAIL: $description"; failures=$((failures + 1)); fi
}
finish() { echo "$failures failed"; [ "$failures" -eq 0 ] || exit 1; exit "${1:-0}"; }
# Run through check.
# shellcheck disable=SC2317
lacks() { ! grep -q "$1" <<<"$2"; }  # PATTERN TEXT
# shellcheck disable=SC2317
output_has() { "${@:2}" 2>/dev/null | grep -q "$1"; }  # PATTERN COMMAND...
# shellcheck disable=SC2317
quiet() { local output; output=$("$@" 2>&1) || { echo "$output"; return 1; }; }  # COMMAND...
# shellcheck disable=SC2317
starts_with() { test "$(od -An -tx1 -j "$2" -N "$((${#3} / 2))" "$1" 2>/dev/null | tr -d ' \n')" = "$3"; }  # FILE OFFSET HEX

version=$(dpkg-parsechangelog -l "$tree/debian/changelog" -S Version)
package=$work/kestravu_${version}_amd64.deb
"$tree/packaging/build-deb.sh" "$work" >/dev/null || { echo "FAIL: dpkg-buildpackage"; exit 1; }
check "dpkg-buildpackage made kestravu_${version}_amd64.deb" test -f "$package"
[ -f "$package" ] || finish
# As a packager runs it, unprivileged: as root it adds a notice of its own.
unprivileged=()
[ "$(id -u)" -ne 0 ] || unprivileged=(runuser -u nobody --)
lintian_output=$("${unprivileged[@]}" lintian --fail-on error,warning "$work/kestravu_${version}_amd64.changes" 2>&1)
lintian_status=$?
check "lintian prints nothing${lintian_output:+:$'\n'$lintian_output}" \
  test "$lintian_status" -eq 0 -a -z "$lintian_output"

contents=$(dpkg-deb -c "$package" | awk '{print $6}')
for path in ./usr/bin/kestravu ./usr/bin/kestravu-stream ./usr/share/applications/kestravu.desktop \
            ./usr/share/icons/hicolor/32x32/apps/kestravu.png ./usr/share/man/man1/kestravu.1.gz \
            ./usr/share/man/man1/kestravu-stream.1.gz ./usr/share/mime/packages/kestravu.xml \
            ./usr/share/doc/kestravu/copyright; do
  check "package holds $path" grep -qx "$path" <<<"$contents"
done
check "no libftd2xx in the package" lacks libftd2xx "$contents"

unpacked=$work/unpacked
rm -rf "$unpacked"
dpkg-deb -x "$package" "$unpacked"
debug_files=$(dpkg-deb -c "$work/kestravu-dbgsym_${version}_amd64.deb")
for program in kestravu kestravu-stream; do
  build_id=$(readelf -n "$unpacked/usr/bin/$program" | awk '/Build ID:/ {print $3}')
  check "the debug symbols of $program are in the -dbgsym package" \
    grep -q "/usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug$" <<<"$debug_files"
done
check "AppStream metainfo is valid" quiet appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml
desktop=$unpacked/usr/share/applications/kestravu.desktop
check "desktop entry is valid" quiet desktop-file-validate "$desktop"
# uaccess only works from a rule that runs before the seat rules (73-seat-late.rules).
rule=$(grep -o '[^/]*kestravu[^/]*\.rules$' <<<"$contents")
check "udev rule '$rule' sorts before 73-seat-late.rules" test -n "$rule" -a "$rule" "<" 73-seat-late.rules
for product in 6001 6010 6011 6014 6015; do
  check "udev rule tags 0403:$product \"KESTRAVU\" uaccess" grep -qE "^SUBSYSTEM==\"usb\", \
ENV\{DEVTYPE\}==\"usb_device\", ATTRS?\{idVendor\}==\"0403\", ATTRS?\{idProduct\}==\"$product\", \
ATTRS?\{product\}==\"KESTRAVU\", TAG\+=\"uaccess\"$" "$unpacked/usr/lib/udev/rules.d/$rule"
done
check "desktop entry runs kestravu with a file" grep -qx 'Exec=kestravu %f' "$desktop"
check "desktop entry opens recorded streams" grep -qx 'MimeType=application/x-kestravu-stream;' "$desktop"
check "*.kvs is a recorded stream" grep -q '<glob pattern="\*\.kvs"/>' "$unpacked/usr/share/mime/packages/kestravu.xml"
check "icon is a 32 x 32 PNG" output_has "PNG image data, 32 x 32" \
  file "$unpacked/usr/share/icons/hicolor/32x32/apps/kestravu.png"
depends=$(dpkg-deb -f "$package" Depends)
for library in libqt6widgets6 libqt6gui6 libqt6core6 libftdi1-2 libavcodec59; do
  check "Depends lists $library" grep -q "\b$library\b" <<<"$depends"
done
check "Recommends qt6-wayland" grep -qx 'qt6-wayland' <<<"$(dpkg-deb -f "$package" Recommends)"

[ "$(id -u)" -eq 0 ] || { echo "skipped: the clean system needs root"; finish 77; }
# shellcheck source=tests/package/clean_system.sh
source "$(dirname "$0")/clean_system.sh"
root=$work/root
make_clean_system "$cache" "$root" || { echo "FAIL: making the clean Debian 12 system"; finish; }
cp "$package" "$root/tmp/"
check "apt-get installed the package and its dependencies in the clean system" \
  install_with_apt "$cache" "$root" "/tmp/${package##*/}"

check "kestravu --version prints $version" test "$(in_system "$root" kestravu --version)" = "kestravu $version"
in_system "$root" kestravu-stream pattern -o /tmp/short.kvs --frames 30 >/dev/null
for video in short.mkv short.mp4; do
  check "kestravu-stream video wrote $video" quiet in_system "$root" kestravu-stream video /tmp/short.kvs "/tmp/$video"
done
check "short.mkv is Matroska" starts_with "$root/tmp/short.mkv" 0 1a45dfa3
check "short.mp4 is MP4" starts_with "$root/tmp/short.mp4" 4 "$(printf ftyp | od -An -tx1 | tr -d ' ')"

# The viewer plays the stream file offscreen. A looped file never ends, so once the viewer
# has shown it for a second it is asked to end (SIGTERM), which it takes as Quit; the signal
# waits until its handler is in place (bit 15 of SigCgt), or it would kill the start-up.
# shellcheck disable=SC2016  # expanded in the clean system
status=$(in_system "$root" bash -c '
  kestravu /tmp/short.kvs 2>/dev/null & viewer=$!
  for _ in $(seq 100); do
    (( 0x$(awk "/^SigCgt:/ {print \$2}" /proc/$viewer/status) & 0x4000 )) && break
    sleep 0.1
  done
  sleep 1; kill -TERM $viewer; wait $viewer; echo $?')
check "installed viewer played short.kvs and ended with 0 when asked (got $status)" test "$status" = 0
check "it saved its settings" grep -qx 'bufsize=32' "$root/root/.config/kestravu/KESTRAVU.ini"

# The same stream from the simulated device, which falls silent after it: the viewer ends by
# itself after the 3-second read time-out. The device's library is copied into a scratch
# folder for this run alone, never installed.
mkdir -p "$root/tmp/device"
cp "$build/sim/libftd2xx.so" "$root/tmp/device/"
in_system "$root" env LD_LIBRARY_PATH=/tmp/device KESTRAVU_SIM_STREAM=/tmp/short.kvs \
  KESTRAVU_SIM_LOG=/tmp/device.log timeout 30 kestravu 2>/dev/null
status=$?
check "installed viewer ran to the end of the device's stream and ended by itself with 0 (got $status)" \
  test "$status" -eq 0
read -r received _ < <(awk -f "$tree/tests/support/delivered_bytes.awk" "$root/tmp/device.log" 2>/dev/null)
check "it read the whole stream from the device" test "${received:-0}" -eq "$(stat -c %s "$root/tmp/short.kvs")"
[ "$failures" -eq 0 ] && rm -rf "$root" "$unpacked"
finish
