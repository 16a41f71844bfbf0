#!/usr/bin/env bash
# Runs one script inside a virtual machine that has a real Linux USB stack: Debian's generic
# kernel under QEMU (software emulation), this machine's root file system shared read-only, the
# repository's build/ folder read-write at the same path, and the kernel's virtual USB host
# controller (vhci-hcd) and FTDI serial driver (ftdi_sio) loaded. The script runs as root in
# the guest with its arguments; its exit status is this script's.
#   scripts/usb-vm.sh SCRIPT [ARGUMENTS...]
# The kernel package (whatever linux-image-amd64 currently depends on) is fetched once with
# apt-get download and kept, with the modules and the initial RAM disk made from it, in
# build/usb-vm/. KESTRAVU_VM_TIMEOUT (seconds, default 300) bounds the whole run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 SCRIPT [ARGUMENTS...]" >&2; exit 2; }
cache="$root/build/usb-vm"
mkdir -p "$cache"

# Modules the guest needs, in load order: the 9p root over virtio, then USB/IP's host controller
# and the FTDI driver.
modules=(virtio_pci 9pnet_virtio 9p vhci-hcd ftdi_sio)

prepare_kernel() {
  local scratch="$cache/scratch" package version vmlinuz offset
  rm -rf "$scratch" && mkdir -p "$scratch"
  package=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n1)
  [ -n "$package" ] || { echo "usb-vm: linux-image-amd64 names no kernel package" >&2; return 1; }
  (cd "$scratch" && apt-get download -q "$package" >/dev/null 2>&1)
  dpkg-deb -x "$scratch"/linux-image-*.deb "$scratch/tree"
  version=${package#linux-image-}
  # The compressed kernel is an xz stream inside vmlinuz; TCG boots the plain ELF image.
  vmlinuz="$scratch/tree/boot/vmlinuz-$version"
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | awk -F: 'NR == 1 {print $1}')
  xz -dc --single-stream <(tail -c +$((offset + 1)) "$vmlinuz") >"$scratch/vmlinux"
  depmod -b "$scratch/tree" "$version"
  mkdir -p "$scratch/modules"
  local list="$scratch/modules/order"
  : >"$list"
  for module in "${modules[@]}"; do
    modprobe -d "$scratch/tree" -S "$version" --show-depends "$module" | awk '$1 == "insmod" {print $2}' |
      while read -r file; do
        grep -qx "$(basename "$file")" "$list" && continue
        cp "$file" "$scratch/modules/"
        basename "$file" >>"$list"
      done
  done
  rm -rf "$cache/modules"
  mv "$scratch/modules" "$scratch/vmlinux" "$cache/"
  echo "$version" >"$cache/version"
  rm -rf "$scratch"
}

# busybox, the modules and the first script.
make_initramfs() {
  local scratch="$cache/initramfs"
  rm -rf "$scratch" && mkdir -p "$scratch/bin"
  cp /bin/busybox "$scratch/bin/busybox"
  cp -r "$cache/modules" "$scratch/modules"
  cp "$root/scripts/usb-vm-init.sh" "$scratch/init"
  chmod +x "$scratch/init"
  (cd "$scratch" && find . | cpio -o -H newc --quiet | gzip -1) >"$cache/initramfs.gz.new"
  mv "$cache/initramfs.gz.new" "$cache/initramfs.gz"
  rm -rf "$scratch"
}

[ -s "$cache/vmlinux" ] && [ -s "$cache/modules/order" ] || prepare_kernel
# The RAM disk is made again when its first script changes.
if [ ! -s "$cache/initramfs.gz" ] || [ "$root/scripts/usb-vm-init.sh" -nt "$cache/initramfs.gz" ]; then
  make_initramfs
fi

run=$(mktemp -d "$cache/run.XXXXXX")
trap 'rm -rf "$run"' EXIT
{
  printf 'cd %q\n' "$PWD"
  printf 'exec'
  printf ' %q' "$@"
  printf '\n'
} >"$run/command"

# The guest's clock counts the instructions it runs (one a nanosecond) rather than the host's
# time: a host busy with other work slows the guest down but does not make time pass for it
# while it is not running, so its programs see a machine of the same speed every time. The
# clock skips ahead while the guest is idle.
status=0
timeout "${KESTRAVU_VM_TIMEOUT:-300}" qemu-system-x86_64 -accel tcg -icount shift=0,sleep=on -m 1536 -smp 1 -no-reboot \
  -display none -monitor none -serial stdio -nodefaults -device virtio-rng-pci \
  -kernel "$cache/vmlinux" -initrd "$cache/initramfs.gz" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 kestravu.run=$run kestravu.build=$root/build" \
  -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap \
  -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
  -fsdev local,id=build,path="$root/build",security_model=none,multidevs=remap \
  -device virtio-9p-pci,fsdev=build,mount_tag=build </dev/null || status=$?
if [ ! -s "$run/status" ]; then
  echo "usb-vm: the guest ended without a result (qemu status $status)" >&2
  exit 1
fi
exit "$(cat "$run/status")"
