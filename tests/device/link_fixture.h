// Resets the scripted driver, the settings, the link and the reader before every test.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_d2xx.h"
#include "settings.h"
#include "usb_link.h"

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeD2xx::reset();
    settings = Settings{};
    DeviceLink::linkState = DeviceLink::LinkState{};
    StreamReader::readerState = StreamReader::ReaderState{};
  }

  // Bytes first, first + 1, ... (mod 256), as one scripted read.
  static FakeD2xx::ScriptedRead countingRead(int size, uint8_t first = 0) {
    FakeD2xx::ScriptedRead read;
    for (int i = 0; i < size; ++i) read.bytes.push_back(static_cast<uint8_t>(first + i));
    return read;
  }

  // Takes `count` bytes from the reader; stops at the first failure.
  static std::vector<uint8_t> take(int count) {
    std::vector<uint8_t> bytes;
    uint8_t byte = 0;
    for (int i = 0; i < count && StreamReader::nextByte(byte) == 0; ++i) bytes.push_back(byte);
    return bytes;
  }

  static std::vector<uint8_t> counting(int size, uint8_t first = 0) { return countingRead(size, first).bytes; }
};

inline const std::vector<std::string> kOpenCalls = {
    "FT_OpenEx KESTRAVU 2", "FT_SetBitMode h1 0 0", "FT_SetUSBParameters h1 32 0", "FT_SetTimeouts h1 3000 3000"};
