#!/usr/bin/env bash
# Installs whatever the build and the tests need and is not there yet (Debian 12, run as root).
# Safe to run again: it only calls apt-get when a package is missing.
set -euo pipefail

native_packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libpng-dev
                 libftdi1-dev libusb-1.0-0-dev qt6-base-dev clang libclang-rt-14-dev
                 libavformat-dev libavcodec-dev libswscale-dev libavutil-dev)
# The Debian package: built by dpkg-buildpackage with debhelper (ImageMagick draws its icons),
# checked with lintian, appstreamcli, desktop-file-validate and file, and installed into a
# clean system that debootstrap makes.
package_packages=(dpkg-dev debhelper imagemagick lintian appstream desktop-file-utils file debootstrap)
windows_packages=(g++-mingw-w64-i686 binutils-mingw-w64-i686)
# The USB tests' virtual machine: QEMU, the RAM disk's busybox, modprobe and depmod, cpio and xz
# to unpack Debian's kernel, and udevadm for the udev rule.
usb_packages=(qemu-system-x86 busybox-static kmod cpio xz-utils udev)
# fonts-wine brings the Marlett font that Wine draws caption buttons and menu check marks with;
# the IPA Gothic font draws the Japanese messages. Weston's headless compositor and Qt's Wayland
# platform run the viewer as a native Wayland client.
desktop_packages=(wine wine32:i386 wine64 fonts-wine fonts-ipafont-gothic xvfb xdotool x11-utils
                  weston qt6-wayland)

want=("${native_packages[@]}" "${package_packages[@]}" "${windows_packages[@]}" "${usb_packages[@]}")
[ "${1:-}" = "--native-only" ] || want+=("${desktop_packages[@]}")

missing=()
for package in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
# 32-bit Wine is what runs a 32-bit Windows program; it needs the i386 architecture.
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
# Another package manager at work (an unattended upgrade, a second set-up) is waited for.
wait_for_lock=(-o DPkg::Lock::Timeout=600)
"${as_root[@]}" apt-get "${wait_for_lock[@]}" update -q
"${as_root[@]}" apt-get "${wait_for_lock[@]}" install -y -q --no-install-recommends "${missing[@]}" >/dev/null
