#!/bin/busybox sh
# First process of the USB test machine (scripts/usb-vm.sh), from its RAM disk: loads the
# modules, mounts the host's root read-only and the build folder read-write over 9p, switches
# to that root and runs the command the host left in the run folder named on the kernel command
# line, then writes its exit status beside it and powers off.
/bin/busybox mkdir -p /proc /sys /dev /root
/bin/busybox mount -t proc proc /proc
/bin/busybox mount -t sysfs sysfs /sys
/bin/busybox mount -t devtmpfs devtmpfs /dev
for module in $(/bin/busybox cat /modules/order); do
  /bin/busybox insmod "/modules/$module" || echo "init: $module did not load"
done
for word in $(/bin/busybox cat /proc/cmdline); do
  case $word in
    kestravu.run=*) run=${word#*=} ;;
    kestravu.build=*) build=${word#*=} ;;
  esac
done
options=trans=virtio,version=9p2000.L,msize=262144
/bin/busybox mount -t 9p -o $options,ro,cache=loose hostroot /root
# The checkout may lie in the temporary or the run folder, which get a tmpfs of their own: it is
# held aside first and put back in place on top of them, and the build folder over it.
/bin/busybox mkdir -p /checkout
/bin/busybox mount --bind "/root${build%/build}" /checkout
for folder in proc sys dev; do /bin/busybox mount --move "/$folder" "/root/$folder"; done
/bin/busybox mkdir -p /root/dev/shm
/bin/busybox ln -s /proc/self/fd /root/dev/fd
for folder in tmp run dev/shm; do /bin/busybox mount -t tmpfs tmpfs "/root/$folder"; done
/bin/busybox mkdir -p "/root${build%/build}"
/bin/busybox mount --move /checkout "/root${build%/build}"
/bin/busybox mount -t 9p -o $options build "/root$build"
# The program that runs the command stays in the new root, so that it can power off after it.
exec /bin/busybox switch_root /root /bin/sh -c '
  export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp LANG=C.UTF-8
  sh "$0/command" </dev/null
  echo $? >"$0/status"
  sync
  echo o >/proc/sysrq-trigger
  sleep 10' "$run"
