#!/usr/bin/env bash
# Writes the committed seed corpus again: test-pattern frames from the stream tool for the
# decoder (behind a mode byte, see decoder_fuzz.cpp), and small hand-made inputs that reach the
# awkward cases at once (restarts, a missing count byte, endless streams, failing reads,
# out-of-range read sizes, runs of 129 cells of 0x01). Run from a built sanitize tree:
#   tests/fuzz/make_seeds.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build/sanitize}
tool=$build/tools/stream/kestravu-stream
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
corpus=$here/corpus
mkdir -p "$corpus/decoder" "$corpus/reader" "$corpus/encoder"

"$tool" pattern -o "$scratch/one.bin" --frames 1 >/dev/null
"$tool" pattern -o "$scratch/four.bin" --frames 4 >/dev/null
seed() { printf "$2" > "$corpus/$1"; }
with_mode() { { printf "$2"; cat "$3"; } > "$corpus/decoder/$1"; }

# Decoder: the first byte is the mode (bit 0 Wide, 1 Screen4, 2 "on" as -7, 3 Wide switching,
# 4 source showing its bytes, 5-7 chunk size; 0xEF, 0xFF one call on the endless repeated stream).
with_mode pattern-key-frame-palette '\x00' "$scratch/one.bin"
with_mode pattern-four-frames-wide-screen4-lent-1 '\x1b' "$scratch/four.bin"
with_mode pattern-four-frames-screen4-lent-255 '\xb6' "$scratch/four.bin"
seed decoder/restart-then-missing-count-byte '\x08\x7f\x02\x81\x00\x81\x21\x03\x9c\x01\x00\x81\x01\x81\x05\x00\x06'
seed decoder/endless-restarts '\xff\x01\x81'
seed decoder/endless-noise '\xef\x37\x80\x02'

# Reader: steps (0 take bytes, 1 consume shown bytes, 2 reopen, 3 read size), each read taking
# a status and a count.
seed reader/short-reads-then-timeout '\x20\x00\x05\x0f\x00\x00\x00\x10\x00\x24\x20\x03'
seed reader/reopen-with-leftovers '\x08\x10\x00\x02\x5d\x04\x20\x10\x00\x02\x00\x00\x04\x10\x00'
seed reader/error-status-and-overlong '\x04\x0f\x07\x04\x0e\x02\x04\x1f\x00\x0c\x10\x00'
seed reader/borrowed-rest-of-buffer '\x04\x10\x00\x41\x02\x40\x04\xfd\x05\x10\x00\x09\x05\x03'
seed reader/read-sizes-out-of-range '\x03\x06\x04\x10\x00\x03\x80\x7f\xff\xff\xff\x04\x10\x00\x02\xff\x80\x00\x00\x00\x01\x04\x10\x00'

# Encoder: frames of a header (bit 0 key, bits 1-7 steps) and steps (kind, value, length).
seed encoder/key-then-deltas-with-129-runs '\x07\x01\x01\x80\x81\x22\xff\x03\x00\x03\xaa\x0f\xf0\x04\x02\x01\x80\x80\x00\x10\x00\x01\x01\x80'
seed encoder/raw-cells-and-long-runs '\x05\x83\x00\x07\x10\x20\x30\x40\x50\x60\x70\x80\x81\x01\xff\x04\x01\x00\xff\x82\x01\x02'
