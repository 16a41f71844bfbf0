// The live link and the recording tee over a scripted device whose reads hand over prepared
// pieces, then wait until told to go on, as a device that has nothing more to send.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "live_link.h"
#include "manual_clock.h"
#include "recording_link.h"
#include "stream_builder.h"
#include "viewer.h"

namespace {

class ScriptedDevice final : public DeviceLink {
 public:
  OpenResult open(uint32_t) override { return OpenResult::Opened; }
  void reopen(uint32_t) override {}
  void close() override {}
  // The next piece, or once they are used up, `ending` when end() was called.
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !pieces_.empty() || ended_; });
    received = 0;
    if (pieces_.empty()) return ending_;
    std::vector<uint8_t>& piece = pieces_.front();
    received = std::min<uint32_t>(count, static_cast<uint32_t>(piece.size()));
    std::memcpy(buffer, piece.data(), received);
    piece.erase(piece.begin(), piece.begin() + received);
    if (piece.empty()) pieces_.pop_front();
    return ReadResult::BytesArrived;
  }
  void send(std::vector<uint8_t> bytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    pieces_.push_back(std::move(bytes));
    changed_.notify_all();
  }
  void end(ReadResult ending) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    ending_ = ending;
    changed_.notify_all();
  }
  bool sentAll() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return pieces_.empty();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> pieces_;
  bool ended_ = false;
  ReadResult ending_ = ReadResult::ReadFailed;
};

bool woken(const LiveLink& link, int timeoutMs = 5000) {
  pollfd wake = {link.wakeDescriptor(), POLLIN, 0};
  return poll(&wake, 1, timeoutMs) == 1;
}

// A key frame of one value, the picture's first cell telling which.
std::vector<uint8_t> keyFrame(uint8_t value) {
  std::vector<uint8_t> frame = frameStart(FrameFormat::kKeyFrame);
  addRuns(frame, value, FrameFormat::kCellsPerFrame);
  return frame;
}

struct LiveRig {
  ManualClock clock;
  ScriptedDevice device;
  LiveLink link{device, clock};
  Viewer viewer{link, clock};
  LiveRig() {
    EXPECT_TRUE(viewer.allocateBuffers());
    EXPECT_EQ(viewer.openDevice(256), OpenResult::Opened);
    link.setReading(true);
  }
  ~LiveRig() { device.end(ReadResult::ReadFailed); }
};

}  // namespace

// Three frames and the start of a fourth, behind junk: all three decoded in one call, nothing of the fourth taken; then the fourth once it is whole;
// then the failure, only after every byte before it.
TEST(LiveLinkTest, DecodesEveryWholeFrameWaitingAndNeverWaitsForTheRest) {
  LiveRig rig;
  std::vector<uint8_t> stream = {0x00, 0x07, 0x01};  // junk
  for (uint8_t value : {1, 2, 3}) {
    const std::vector<uint8_t> frame = keyFrame(value);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  const std::vector<uint8_t> fourth = keyFrame(4);
  stream.insert(stream.end(), fourth.begin(), fourth.begin() + 100);
  rig.device.send(stream);
  ASSERT_TRUE(woken(rig.link));
  while (!rig.device.sentAll()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the last piece walked
  rig.link.clearWake();
  LiveResult result = rig.viewer.decodeWaiting({false, false});
  EXPECT_EQ(result.frames, 3);
  EXPECT_FALSE(result.failed);
  EXPECT_EQ(rig.viewer.decoder().cellHistory()[0], 3);
  EXPECT_EQ(rig.viewer.bytesDecoded(), stream.size() - 100);

  rig.device.send(std::vector<uint8_t>(fourth.begin() + 100, fourth.end()));
  ASSERT_TRUE(woken(rig.link));
  rig.link.clearWake();
  result = rig.viewer.decodeWaiting({false, false});
  EXPECT_EQ(result.frames, 1);
  EXPECT_EQ(rig.viewer.decoder().cellHistory()[0], 4);

  // A marker split between two reads: 0x01 held back, the frame is a key frame.
  std::vector<uint8_t> split = keyFrame(5);
  rig.device.send({0x07, 0x01});
  rig.device.send(std::vector<uint8_t>(split.begin() + 1, split.end()));
  ASSERT_TRUE(woken(rig.link));
  rig.link.clearWake();
  EXPECT_EQ(rig.viewer.decodeWaiting({false, false}).frames, 1);
  EXPECT_EQ(rig.viewer.decoder().cellHistory()[0], 5);

  rig.device.send({0x00, 0x01, 0x81, 9, 9});
  rig.device.end(ReadResult::TimedOut);
  ASSERT_TRUE(woken(rig.link));
  result = rig.viewer.decodeWaiting({false, false});
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(rig.viewer.decoder().cellHistory()[0], 9);  // the cut frame, as far as it goes
}

// A buffer that fills up drops what does not fit, counts it, and is live again once read.
TEST(LiveLinkTest, ABufferThatFillsUpDropsTheNewestAndCountsThem) {
  ManualClock clock;
  ScriptedDevice device;
  LiveLink link(device, clock, 8192);
  ASSERT_EQ(link.open(256), OpenResult::Opened);
  link.setReading(true);
  device.send(std::vector<uint8_t>(10000, 0x00));
  while (!device.sentAll()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(link.droppedBytes(), 10000u - 8192u);
  std::vector<uint8_t> bytes(8192);
  uint32_t received = 0;
  EXPECT_EQ(link.read(bytes.data(), 8192, received), ReadResult::BytesArrived);
  EXPECT_EQ(received, 8192u);  // a dead input's zeros are all served, half full or not
  EXPECT_EQ(link.read(bytes.data(), 8192, received), ReadResult::NothingWaiting);
  device.end(ReadResult::ReadFailed);
}

namespace {

// A sink whose push to the disk waits until the test lets it go.
class SlowSink final : public RecordingSink {
 public:
  int write(const uint8_t* bytes, uint32_t count) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    written.insert(written.end(), bytes, bytes + count);
    return 0;
  }
  int sync() override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++syncs;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released; });
    return 0;
  }
  void waitForSync() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return syncs > 0; });
  }
  void release() {
    const std::lock_guard<std::mutex> lock(mutex_);
    released = true;
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint8_t> written;
  int syncs = 0;
  bool released = false;
};

}  // namespace

// While the disk takes its time over a push, reads go on and are written: were the push made
// in a read, the reads after the sync period would wait for it and this test would hang.
TEST(RecordingTeeTest, APushToTheDiskHoldsUpNoRead) {
  ManualClock clock;
  ScriptedDevice device;
  RecordingTee tee(device, clock);
  auto owned = std::make_unique<SlowSink>();
  SlowSink& sink = *owned;
  tee.startRecording(std::move(owned));
  uint8_t bytes[4];
  uint32_t received = 0;
  for (uint8_t value = 0; value < 20; ++value) {
    device.send({value, value, value, value});
    ASSERT_EQ(tee.read(bytes, 4, received), ReadResult::BytesArrived);
    clock.advance(1000);
    if (value == 5) sink.waitForSync();  // asked for after 3 s, and under way from now on
  }
  EXPECT_EQ(sink.syncs, 1);
  EXPECT_EQ(sink.written.size(), 80u);
  EXPECT_TRUE(tee.isRecording());
  sink.release();
  EXPECT_TRUE(tee.stopRecording());
  EXPECT_FALSE(tee.isRecording());
  device.end(ReadResult::ReadFailed);
}
