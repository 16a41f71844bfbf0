// The D2XX link and a stream reader over a fresh scripted driver for every test. The driver
// must never see a call the link should not make.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "d2xx_link.h"
#include "scripted_d2xx.h"
#include "settings.h"
#include "stream_reader.h"

class LinkTest : public ::testing::Test {
 protected:
  // Destroyed in reverse order: the link closes the device while its driver is still there.
  struct Rig {
    ScriptedD2xx driver;
    D2xxLink link{ScriptedD2xx::functions()};
    StreamReader reader{link};
  };

  // Also called again by tests that want a fresh rig halfway.
  void SetUp() override {
    if (rig) TearDown();
    rig.reset();  // before the next driver takes over the driver calls
    rig = std::make_unique<Rig>();
  }
  // The link closes the device when it goes, too; here that close is still watched.
  void TearDown() override {
    link().close();
    for (const std::string& rule : driver().misuse) ADD_FAILURE() << "the driver saw a misuse: " << rule;
  }

  ScriptedD2xx& driver() { return rig->driver; }
  D2xxLink& link() { return rig->link; }
  StreamReader& reader() { return rig->reader; }

  // What a program does at start-up and after the user changed the read size.
  OpenResult open(int32_t readSize = kDefaultReadSize) {
    reader().setReadSize(readSize);
    return link().open(reader().readSize());
  }
  void changeReadSize(int32_t readSize) {
    reader().setReadSize(readSize);
    link().reopen(reader().readSize());
  }

  // Takes `count` bytes from the reader; stops at the first failure.
  std::vector<uint8_t> take(int count) {
    std::vector<uint8_t> bytes;
    uint8_t byte = 0;
    for (int i = 0; i < count && reader().nextByte(byte) == 0; ++i) bytes.push_back(byte);
    return bytes;
  }
  // Bytes first, first + 1, ... (mod 256), as one scripted read.
  static ScriptedD2xx::Read countingRead(int size, uint8_t first = 0) { return {FT_OK, counting(size, first), -1}; }
  static std::vector<uint8_t> counting(int size, uint8_t first = 0) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(first + i));
    return bytes;
  }

  std::unique_ptr<Rig> rig;
};

inline const std::vector<std::string> kOpenCalls = {
    "FT_OpenEx KESTRAVU 2", "FT_SetBitMode h1 0 0", "FT_SetUSBParameters h1 32 0", "FT_SetTimeouts h1 3000 3000"};
