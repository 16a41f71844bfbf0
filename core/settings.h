// The three user settings and the settings file's keys for them. Each front end reads and
// writes the file its own way; the record with its defaults, the keys and the rule for a read
// size out of range are shared, so that either program reads the other's file.
#pragma once
#include <climits>
#include <cstdint>

#include "frame_buffer.h"

constexpr int32_t kDefaultReadSize = 32;
constexpr int32_t kMaxReadSize = 256;  // the USB read buffer's size

struct Settings {
  int32_t wide = 0;                    // Wide scale (852 x 524) when non-zero
  int32_t scr4 = 0;                    // Screen4 colour mode when non-zero
  int32_t bufsize = kDefaultReadSize;  // bytes asked for in each USB read, 1 ... 256

  PictureMode pictureMode() const { return PictureMode{wide != 0, scr4 != 0}; }
  // The flags count as on when non-zero, as in a file the user edited; a toggle stores 0 or 1.
  void toggleWide() { wide = wide == 0 ? 1 : 0; }
  void toggleScreen4() { scr4 = scr4 == 0 ? 1 : 0; }
};

// A key of the settings file and the value of a `Record` that it holds.
template <typename Record>
struct SettingsKey {
  const char* name;
  int32_t Record::*value;
};

// The section of the file that holds the keys.
constexpr char kSettingsSection[] = "section";
// Read and written in this order, so a file the program wrote lists them so.
constexpr SettingsKey<Settings> kSettingsKeys[] = {
    {"wide", &Settings::wide}, {"scr4", &Settings::scr4}, {"bufsize", &Settings::bufsize}};
// A key that holds this value counts as missing: the setting keeps its default.
constexpr int32_t kMissingSettingValue = -1;

// A read size outside 1 ... 256 would overrun the read buffer, so it never gets past here.
constexpr int32_t sanitizedReadSize(int32_t readSize) {
  return readSize >= 1 && readSize <= kMaxReadSize ? readSize : kDefaultReadSize;
}

// A number typed by the user, read as C's atoi reads it but clamped instead of overflowing:
// leading blanks, an optional sign, then decimal digits up to the first other character; text
// without digits gives 0.
inline int32_t parseNumber(const char* text) {
  auto isBlank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (isBlank(*text)) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > int64_t{INT32_MAX} + 1) magnitude = int64_t{INT32_MAX} + 1;
  }
  if (negative) return static_cast<int32_t>(-magnitude);
  return static_cast<int32_t>(magnitude > INT32_MAX ? INT32_MAX : magnitude);
}
