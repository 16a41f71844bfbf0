#!/usr/bin/env bash
# Writes the program file's icon: one 32 x 32 image in 16 colours, a small screen showing
# colour bars. Each character below is a palette index (hex), '.' is transparent.
# Usage: make_icon.sh OUTPUT.ico
set -euo pipefail

picture=(
  "................................"
  "................................"
  "..8888888888888888888888888888.."
  "..8777777777777777777777777778.."
  "..8700000000000000000000000078.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87fffbbbeeeaaaddd999ccc44478.."
  "..87444000ddd000eee000777fff78.."
  "..87444000ddd000eee000777fff78.."
  "..87444000ddd000eee000777fff78.."
  "..8700000000000000000000000078.."
  "..8777777777777777777777777978.."
  "..8888888888888888888888888888.."
  "...........8888888888..........."
  "...........8888888888..........."
  ".......888888888888888888......."
  "................................"
  "................................"
  "................................"
  "................................"
)
# The standard 16-colour palette, as red green blue.
palette=(000000 800000 008000 808000 000080 800080 008080 c0c0c0
         808080 ff0000 00ff00 ffff00 0000ff ff00ff 00ffff ffffff)

bytes=""
byte() { bytes+=$(printf '\\x%02x' "$1"); }
u16() { byte $(($1 & 255)); byte $(($1 >> 8 & 255)); }
u32() { u16 $(($1 & 65535)); u16 $(($1 >> 16 & 65535)); }

# Icon directory with its one entry: 32 x 32, 16 colours, 1 plane, 4 bits, image at offset 22.
u16 0; u16 1; u16 1
byte 32; byte 32; byte 16; byte 0; u16 1; u16 4; u32 $((40 + 64 + 512 + 128)); u32 22
# Bitmap header: the height counts the colour image and the mask together.
u32 40; u32 32; u32 64; u16 1; u16 4; u32 0; u32 $((512 + 128)); u32 0; u32 0; u32 16; u32 0
for colour in "${palette[@]}"; do
  byte $((16#${colour:4:2})); byte $((16#${colour:2:2})); byte $((16#${colour:0:2})); byte 0
done
# Colour image, bottom row first, two pixels a byte, left pixel in the high nibble.
for ((row = 31; row >= 0; --row)); do
  line=${picture[row]//./0}
  for ((column = 0; column < 32; column += 2)); do byte $((16#${line:column:2})); done
done
# Transparency mask, bottom row first, one bit a pixel, set where the picture is transparent.
for ((row = 31; row >= 0; --row)); do
  line=${picture[row]}
  for ((column = 0; column < 32; column += 8)); do
    mask=0
    for ((bit = 0; bit < 8; ++bit)); do
      [ "${line:column+bit:1}" = "." ] && mask=$((mask | 128 >> bit))
    done
    byte $mask
  done
done
printf "$bytes" >"$1"
