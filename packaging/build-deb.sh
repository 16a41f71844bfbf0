#!/usr/bin/env bash
# Builds the Debian package as Debian builds packages (dpkg-buildpackage with debian/), from a
# copy of the source tree, so that nothing lands beside the tree: dpkg-buildpackage writes its
# packages into the folder above the one it builds in, and debhelper builds inside the tree.
# Usage: packaging/build-deb.sh [OUTPUT_DIR]    (default build/deb)
# OUTPUT_DIR receives kestravu_<version>_amd64.deb, its -dbgsym package, the .changes and the
# .buildinfo file, and the build log build.log; OUTPUT_DIR/source is the copy.
set -euo pipefail
tree=$(cd "$(dirname "$0")/.." && pwd)
output=${1:-$tree/build/deb}
mkdir -p "$output"
output=$(cd "$output" && pwd)
copy=$output/source

rm -rf "$copy" "$output"/kestravu*_*.deb "$output"/kestravu_*.changes "$output"/kestravu_*.buildinfo
mkdir -p "$copy"
# In a git checkout the files git knows or would add, as they are now (uncommitted changes are
# built too); otherwise everything but the build folders.
if git -C "$tree" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$tree" && git ls-files -z --cached --others --exclude-standard |
    tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null) | tar -C "$copy" -xf -
else
  tar -C "$tree" --exclude=./build --exclude='./obj-*' -cf - . | tar -C "$copy" -xf -
fi

if ! (cd "$copy" && dpkg-buildpackage -b -us -uc) >"$output/build.log" 2>&1; then
  tail -n 40 "$output/build.log" >&2
  echo "build-deb: dpkg-buildpackage failed; the whole log is $output/build.log" >&2
  exit 1
fi
ls "$output"/kestravu*_*.deb
