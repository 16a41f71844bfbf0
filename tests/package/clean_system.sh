# shellcheck shell=bash
# A clean Debian 12 system for installing the package into, sourced by check_package.sh.
#   make_clean_system CACHE ROOT   a fresh copy in ROOT of the minbase system kept in
#                                  CACHE/minbase (made with debootstrap when missing)
#   install_with_apt CACHE ROOT DEB   apt-get install DEB (a path inside ROOT) there, with the
#                                  packages downloaded before kept in CACHE/archives
#   in_system ROOT COMMAND...      runs COMMAND in ROOT, offscreen, with its own /proc
# Each command runs in its own mount and process namespaces: /proc is mounted for it alone
# and gone when it ends, with every process it started, however the run ends.

in_system() {  # ROOT COMMAND...
  local root=$1
  shift
  unshare --mount --pid --fork --mount-proc="$root/proc" chroot "$root" \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
    DEBIAN_FRONTEND=noninteractive "$@"
}

make_clean_system() {  # CACHE ROOT
  local base=$1/minbase
  if [ ! -d "$base" ]; then
    mkdir -p "$1"
    rm -rf "$base.new"
    debootstrap --variant=minbase bookworm "$base.new" http://deb.debian.org/debian \
      >"$1/debootstrap.log" 2>&1 || { tail -n 20 "$1/debootstrap.log"; return 1; }
    # As a Debian 12 system has it: its updates too, so that the package's dependencies,
    # found on this up-to-date machine, can be met.
    cat >"$base.new/etc/apt/sources.list" <<'EOF'
deb http://deb.debian.org/debian bookworm main
deb http://deb.debian.org/debian bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
    in_system "$base.new" apt-get update -q >>"$1/debootstrap.log" 2>&1 || return 1
    in_system "$base.new" apt-get clean  # debootstrap leaves the base system's packages there
    mv "$base.new" "$base"
  fi
  cp -L /etc/resolv.conf "$base/etc/resolv.conf"  # the name servers of today
  rm -rf "$2"
  cp -a "$base" "$2"
}

install_with_apt() {  # CACHE ROOT DEB
  local archives=$1/archives log=$2.apt.log
  local apt=(apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 "$3")
  mkdir -p "$archives"
  find "$archives" -name '*.deb' -exec cp -l -t "$2/var/cache/apt/archives/" {} +
  # The kept package lists may name versions that the mirror has replaced since: then they
  # are renewed, in the kept system too.
  if ! in_system "$2" "${apt[@]}" >"$log" 2>&1 &&
     ! { in_system "$1/minbase" apt-get update -q && cp -a "$1/minbase/var/lib/apt/lists/." "$2/var/lib/apt/lists/" &&
         in_system "$2" "${apt[@]}"; } >>"$log" 2>&1; then
    tail -n 20 "$log"
    return 1
  fi
  local downloaded
  for downloaded in "$2"/var/cache/apt/archives/*.deb; do
    [ -e "$archives/${downloaded##*/}" ] || ln "$downloaded" "$archives/"
  done
}
