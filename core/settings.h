// The three user settings, as kept in the settings file under the keys "wide", "scr4" and
// "bufsize". Each front end reads and writes the file its own way; the record and the rule for
// a read size out of range are shared.
#pragma once
#include <cstdint>

#include "frame_buffer.h"

struct Settings {
  int32_t wide = 0;      // Wide scale (852 x 524) when non-zero
  int32_t scr4 = 0;      // Screen4 colour mode when non-zero
  int32_t bufsize = 32;  // bytes asked for in each USB read, 1 ... 256

  PictureMode pictureMode() const { return PictureMode{wide != 0, scr4 != 0}; }
};

constexpr int32_t kDefaultReadSize = 32;
constexpr int32_t kMaxReadSize = 256;  // the USB read buffer's size

// A read size outside 1 ... 256 would overrun the read buffer, so it never gets past here.
constexpr int32_t sanitizedReadSize(int32_t readSize) {
  return readSize >= 1 && readSize <= kMaxReadSize ? readSize : kDefaultReadSize;
}
