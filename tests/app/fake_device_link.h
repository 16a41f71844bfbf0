// A stand-in device link for the program's Windows tests: it counts the open, reopen and close
// calls and serves a prepared stream in reads of the asked size; past its end reads time out.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "device_link.h"
#include "frame_format.h"
#include "main_window.h"
#include "stream_builder.h"

class FakeDeviceLink final : public DeviceLink {
 public:
  OpenResult openResult = OpenResult::Opened;
  int opens = 0, reopens = 0, closes = 0;
  std::vector<uint8_t> stream;  // served once
  size_t streamPosition = 0;

  OpenResult open(uint32_t) override { return ++opens, openResult; }
  void reopen(uint32_t) override { ++reopens; }
  void close() override { ++closes; }
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override {
    received = static_cast<uint32_t>(std::min<size_t>(count, stream.size() - streamPosition));
    std::copy_n(stream.begin() + static_cast<long>(streamPosition), received, buffer);
    streamPosition += received;
    return ReadResult::BytesArrived;
  }

  // A key frame whose first picture line is `firstLineCell` and all other cells `otherCell`.
  void appendKeyFrame(uint8_t firstLineCell, uint8_t otherCell) {
    const std::vector<uint8_t> marker = frameStart(FrameFormat::kKeyFrame);
    stream.insert(stream.end(), marker.begin(), marker.end());
    addRuns(stream, firstLineCell, FrameFormat::kCellsPerLine);
    addRuns(stream, otherCell, FrameFormat::kCellsPerFrame - FrameFormat::kCellsPerLine);
  }
};

// A program record over a fresh fake link, as run() sets one up.
struct FakeProgram {
  FakeDeviceLink link;
  SteadyClock clock;
  Viewer viewer{link, clock};
  MainWindow::Program program;
  FakeProgram() {
    program.instance = GetModuleHandleA(nullptr);
    program.viewer = &viewer;
  }
};
