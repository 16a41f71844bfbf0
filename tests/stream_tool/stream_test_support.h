// Helpers for the stream tool tests: encoding into a vector, the well-formedness check of an
// encoded frame, the POSIX cksum CRC used by the checksum fixtures, and scratch directories.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "decoder_fixture.h"
#include "png_picture.h"
#include "scratch_directory.h"
#include "stream_encoder.h"

inline std::vector<uint8_t> encode(const std::vector<uint8_t>& cells,
                                   const std::vector<uint8_t>* previousCells) {
  std::vector<uint8_t> out(kMaxEncodedFrameBytes);
  out.resize(encodeFrame(cells.data(), previousCells ? previousCells->data() : nullptr, out.data()));
  return out;
}

// One encoded frame: a marker, then pairs that cover exactly the frame's cells and never
// hold the restart pair 0x01 0x81 as data.
inline void expectWellFormedFrame(const std::vector<uint8_t>& frame) {
  ASSERT_GE(frame.size(), 4u);
  ASSERT_EQ(frame.size() % 2, 0u);
  EXPECT_EQ(frame[1], FrameFormat::kMarker);
  size_t covered = 0;
  for (size_t at = 2; at < frame.size(); at += 2) {
    EXPECT_FALSE(FrameFormat::isRestartPair(frame[at], frame[at + 1])) << "restart pair as data at byte " << at;
    covered += FrameFormat::runLength(frame[at + 1]);
  }
  EXPECT_EQ(covered, static_cast<size_t>(FrameFormat::kCellsPerFrame));
}

// The checksum of `cksum` (POSIX): CRC-32, polynomial 0x04C11DB7 MSB first, over the bytes
// and then their length, inverted.
inline uint32_t posixCksum(const uint8_t* bytes, size_t size) {
  uint32_t crc = 0;
  auto addByte = [&crc](uint8_t byte) {
    crc ^= uint32_t{byte} << 24;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? crc << 1 ^ 0x04C11DB7u : crc << 1;
  };
  for (size_t i = 0; i < size; ++i) addByte(bytes[i]);
  for (size_t length = size; length != 0; length >>= 8) addByte(static_cast<uint8_t>(length));
  return ~crc;
}
