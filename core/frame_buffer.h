// The picture the window shows: an 852 x 524 bitmap of 0x00RRGGBB pixels stored top-down (row 0
// in memory is the top row), the 16-colour palette and the Screen4 colour table, and the
// pixel stage that turns decoded cells into pixels at normal or Wide scale.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

constexpr int kBufferWidth = 852;
constexpr int kBufferHeight = 524;
constexpr int kBufferBytes = kBufferWidth * kBufferHeight * 4;  // 1,785,792
constexpr int kPictureWidth = 426;                              // at normal scale
constexpr int kPictureHeight = 262;

struct PictureSize {
  int width, height;
};

// The picture as the window shows it, the top-left part of the buffer: Wide doubles both sides.
constexpr PictureSize pictureSize(bool wide) {
  return wide ? PictureSize{kBufferWidth, kBufferHeight} : PictureSize{kPictureWidth, kPictureHeight};
}

// The picture: 852 x 524 pixels, zeroed (black) when allocated and cleared again only for a new
// stream, not when the scale or colour mode changes. Allocated once by its owner, before the
// first frame.
struct FrameBuffer {
  std::unique_ptr<uint32_t[]> pixels;

  bool allocate() {
    pixels.reset(new (std::nothrow) uint32_t[kBufferWidth * kBufferHeight]());
    return pixels != nullptr;
  }
  void clear() { std::memset(pixels.get(), 0, kBufferBytes); }
  // Row `row` of the buffer, 0 being the top row of the picture.
  const uint32_t* row(int row) const { return pixels.get() + static_cast<long>(row) * kBufferWidth; }
};

struct PaletteEntry {
  int32_t red, green, blue;
};

inline constexpr PaletteEntry kPalette[16] = {
    {0, 0, 0},     {255, 175, 0},   {0, 255, 175}, {175, 255, 0}, {175, 0, 255},   {255, 0, 175},
    {0, 175, 255}, {175, 175, 175}, {0, 0, 0},     {255, 0, 0},   {0, 255, 0},     {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255}, {255, 255, 255}};

constexpr uint32_t pixelValue(int32_t red, int32_t green, int32_t blue) {
  return static_cast<uint32_t>(red * 65536 + green * 256 + blue);
}

constexpr uint32_t paletteColour(int index) {
  return pixelValue(kPalette[index].red, kPalette[index].green, kPalette[index].blue);
}

// Screen4 maps a whole cell byte to a colour; bytes not in the table repeat the previous colour.
constexpr uint32_t kScreen4Repeat = 0xFFFFFFFFu;

constexpr std::array<uint32_t, 256> makeScreen4Table() {
  std::array<uint32_t, 256> table{};
  for (auto& colour : table) colour = kScreen4Repeat;
  table[0x00] = table[0x88] = pixelValue(0, 0, 0);
  table[0x0F] = table[0x8F] = pixelValue(255, 0, 255);
  table[0xF0] = table[0xF8] = pixelValue(0, 255, 0);
  table[0xFF] = pixelValue(255, 255, 255);
  return table;
}
inline constexpr std::array<uint32_t, 256> kScreen4Table = makeScreen4Table();

// Both pixels of a cell in palette mode, so that a cell costs one look-up: low nibble left.
constexpr std::array<uint64_t, 256> makePalettePairs() {
  std::array<uint64_t, 256> pairs{};
  for (int cell = 0; cell < 256; ++cell)
    pairs[cell] = paletteColour(cell & 0x0F) | uint64_t{paletteColour(cell >> 4)} << 32;
  return pairs;
}
inline constexpr std::array<uint64_t, 256> kPalettePairs = makePalettePairs();

// Row of picture line `line`: row `line` at normal scale; at Wide scale the upper of its two
// rows, 2 * line (the lower one follows it in memory).
inline uint32_t* pictureRow(uint32_t* pixels, int line, bool wide) {
  int row = wide ? 2 * line : line;
  return pixels + static_cast<long>(row) * kBufferWidth;
}

// How the picture is drawn; fixed for one decode call.
struct PictureMode {
  bool wide = false;     // 852 x 524: each pixel doubled across and down
  bool screen4 = false;  // each cell byte as one of four colours
};

// Pixel stage. A cell becomes a pair of pixel values (left | right << 32): from the palette,
// low nibble left, or one Screen4 colour twice. At Wide scale each pixel of the pair is doubled
// across and down, so the cell fills 4 x 2 pixels.
template <bool Wide>
constexpr int kCellColumns = Wide ? 4 : 2;

// How far the output moves on from the end of one picture line to the start of the next.
template <bool Wide>
constexpr int kNextLineStep = Wide ? kBufferWidth : kBufferWidth - kPictureWidth;

inline void storePair(uint32_t* at, uint64_t pair) { std::memcpy(at, &pair, sizeof pair); }

template <bool Wide>
inline void storeCell(uint32_t* at, uint64_t pair) {
  if (!Wide) {
    storePair(at, pair);
    return;
  }
  uint64_t left = (pair & 0xFFFFFFFFu) * 0x100000001u, right = (pair >> 32) * 0x100000001u;
  storePair(at, left);
  storePair(at + 2, right);
  storePair(at + kBufferWidth, left);
  storePair(at + kBufferWidth + 2, right);
}

// The running Screen4 colour: a byte in the table sets it, any other byte repeats it.
template <bool Screen4>
inline uint64_t cellPair(uint8_t cell, uint32_t& screen4Colour) {
  if (!Screen4) return kPalettePairs[cell];
  uint32_t colour = kScreen4Table[cell];
  if (colour != kScreen4Repeat) screen4Colour = colour;
  return screen4Colour * 0x100000001u;
}
