// The three user settings, one process-wide record. The pixel stage reads `wide` and `scr4`,
// the USB link reads `bufsize`, the program shell loads, changes and saves them (load and save
// live with the settings file, in app/settings_file.cpp).
#pragma once
#include <cstdint>

struct Settings {
  int32_t wide = 0;      // Wide scale (852 x 524) when non-zero
  int32_t scr4 = 0;      // Screen4 colour mode when non-zero
  int32_t bufsize = 32;  // bytes asked for in each USB read, 1 ... 256

  static void load();  // once at start-up, from "KESTRAVU.ini" beside the program
  static void save();  // once at a normal end
};

extern Settings settings;

constexpr int32_t kDefaultReadSize = 32;
constexpr int32_t kMaxReadSize = 256;  // the USB read buffer's size

// A read size outside 1 ... 256 would overrun the read buffer, so it never gets past here.
inline int32_t sanitizedReadSize(int32_t readSize) {
  return readSize >= 1 && readSize <= kMaxReadSize ? readSize : kDefaultReadSize;
}
