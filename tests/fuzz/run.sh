#!/usr/bin/env bash
# Runs one fuzz target for a while on a working copy of its seed corpus in the build tree;
# the committed seeds are never written. New inputs found stay in the working corpus for the
# next run (unless --fresh), crash reproducers go to fuzz/artifacts/ in the build tree.
#
#   tests/fuzz/run.sh TARGET SECONDS [--fresh]
#   TARGET: decoder, reader or encoder. Build first: cmake --preset sanitize && cmake --build
#   --preset sanitize. KESTRAVU_BUILD_DIR picks another build tree (default build/sanitize).
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 TARGET SECONDS [--fresh]" >&2
  exit 2
fi
target=$1 seconds=$2 fresh=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
build=${KESTRAVU_BUILD_DIR:-$here/../../build/sanitize}
program=$build/tests/fuzz_$target
seeds=$here/corpus/$target
work=$build/fuzz/corpus/$target
artifacts=$build/fuzz/artifacts/$target
[ -x "$program" ] || { echo "$0: no fuzz target at $program (build the sanitize preset)" >&2; exit 2; }
[ -d "$seeds" ] || { echo "$0: no seed corpus at $seeds" >&2; exit 2; }

[ "$fresh" = "--fresh" ] && rm -rf "$work"
mkdir -p "$work" "$artifacts"
cp -n "$seeds"/* "$work"/

# Stop on the first finding; a slow input (over 10 s) counts as one.
exec "$program" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
  -artifact_prefix="$artifacts/" "$work"
