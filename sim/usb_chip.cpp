#include "usb_chip.h"

#include <algorithm>
#include <cinttypes>

bool StreamSource::load(std::string& error) {
  if (framesPerSecond == 0 && bytesPerSecond == 0) {
    error = "the stream needs a pace: frames or bytes a second";
    return false;
  }
  if (file.empty() ? !frames_.usePattern() : !frames_.useFile(file.c_str(), loop)) {
    error = file.empty() ? "no memory for the test pattern" : file + ": cannot be read";
    return false;
  }
  if (!file.empty() && frames_.fileBytes() == 0) {
    error = file + ": empty";
    return false;
  }
  uint64_t bytes = 0;
  uint64_t frames = 0;
  if (bytesPerSecond == 0 && !frames_.measure(bytes, frames)) {
    error = "no memory to measure the stream";
    return false;
  }
  if (bytesPerSecond == 0) bytesPerSecond = static_cast<uint32_t>(bytes * framesPerSecond / frames);
  return true;
}

UsbChip::UsbChip(StreamSource& source, const Config& config, Time::time_point start, FILE* log, FILE* sent)
    : source_(source), config_(config), start_(start), log_(log), sent_(sent) {}

void UsbChip::advanceTo(Time::time_point now) {
  const Time::duration target = now - start_;
  // The chip's own lateness, which the host shares when the whole machine stood still.
  if (log_ != nullptr && target - now_ > std::chrono::milliseconds(20))
    std::fprintf(log_, "caught up %.0f ms at %.3f s\n", std::chrono::duration<double, std::milli>(target - now_).count(),
                 std::chrono::duration<double>(target).count());
  while (now_ + kStep <= target) {
    now_ += kStep;
    serveTransfer(now_);  // a waiting transfer takes what is there before more arrives
    arrive(now_);
    serveTransfer(now_);
  }
}

// Frame after frame, byte after byte, at the source's rate.
void UsbChip::arrive(Time::duration at) {
  while (!silent_ && at < config_.stopAt) {
    if (frameArrived_ == frameSize_) {
      if (frame_ != nullptr && at < frameStart_ + framePeriod_) return;
      if (frame_ != nullptr) frameStart_ += framePeriod_;
      if (!source_.nextFrame(frame_, frameSize_)) {
        silent_ = true;
        return;
      }
      frameArrived_ = 0;
      framePeriod_ = std::chrono::duration_cast<Time::duration>(
          std::chrono::nanoseconds(frameSize_ * 1000000000ull / source_.bytesPerSecond));
    }
    const auto elapsed = at - frameStart_;
    const size_t due = elapsed >= framePeriod_ ? frameSize_
                                               : static_cast<size_t>(static_cast<double>(frameSize_) * elapsed.count() /
                                                                     framePeriod_.count());
    for (; frameArrived_ < due; ++frameArrived_, ++streamOffset_) {
      if (buffer_.size() < config_.bufferBytes) {
        if (dropRunLength_ > 0) logDropRun(at);
        dropRunLength_ = 0;
        buffer_.push_back(frame_[frameArrived_]);
      } else {
        if (dropRunLength_ == 0) {
          dropRunStart_ = streamOffset_;
          dropRunHostIdle_ = at - idleSince_;
        }
        ++dropRunLength_;
        if (reading_ && at >= readingSince_) ++pendingDrops_; else ++droppedOtherwise_;
      }
    }
    if (due < frameSize_) return;
  }
}

// A packet goes out when a whole one is there, or with whatever there is (maybe only the status)
// when the latency timer runs out; a short packet ends the transfer.
void UsbChip::serveTransfer(Time::duration at) {
  if (at >= config_.stallAt) {
    for (Transfer& transfer : pending_) finished_.push_back({transfer.sequence, true, {}});
    pending_.clear();
    return;
  }
  const uint32_t dataPerPacket = config_.packetBytes - sizeof kModemStatus;
  const Time::duration latency = std::chrono::milliseconds(std::max<uint8_t>(latencyMs_, 1));
  while (!pending_.empty() && pending_.front().submittedAt <= at) {
    Transfer& transfer = pending_.front();
    const uint32_t room = transfer.length - static_cast<uint32_t>(transfer.data.size());
    bool ends = room < sizeof kModemStatus;
    if (!ends && buffer_.size() >= dataPerPacket) {
      sendPacket(transfer, std::min<uint32_t>(dataPerPacket, room - sizeof kModemStatus), at);
    } else if (!ends && at - lastPacketAt_ >= latency) {
      sendPacket(transfer, std::min<uint32_t>(static_cast<uint32_t>(buffer_.size()), room - sizeof kModemStatus), at);
      ends = true;
    } else if (!ends) {
      return;
    }
    if (ends || transfer.length - transfer.data.size() < sizeof kModemStatus) {
      finish(std::move(transfer));
      pending_.pop_front();
      if (pending_.empty()) idleSince_ = at;
    }
  }
}

void UsbChip::sendPacket(Transfer& transfer, uint32_t streamBytes, Time::duration at) {
  transfer.data.insert(transfer.data.end(), kModemStatus, kModemStatus + sizeof kModemStatus);
  for (uint32_t i = 0; i < streamBytes; ++i) {
    transfer.data.push_back(buffer_.front());
    transfer.streamBytes.push_back(buffer_.front());
    buffer_.pop_front();
  }
  lastPacketAt_ = at;
  if (streamBytes > 0) settlePendingDrops(true);
}

UsbChip::Time::duration UsbChip::untilFrontFinishes() const {
  if (pending_.empty()) return Time::duration::max();
  const Transfer& front = pending_.front();
  const uint32_t dataPerPacket = config_.packetBytes - sizeof kModemStatus;
  const uint64_t packetsLeft = (front.length - front.data.size()) / config_.packetBytes;
  const auto untilLatency = lastPacketAt_ + std::chrono::milliseconds(std::max<uint8_t>(latencyMs_, 1)) - now_;
  if (silent_ || now_ >= config_.stopAt || frameSize_ == 0) return untilLatency;
  const double bytesPerTick = static_cast<double>(frameSize_) / static_cast<double>(framePeriod_.count());
  auto timeFor = [&](uint64_t bytes) {
    return bytes <= buffer_.size() ? Time::duration::zero()
                                   : Time::duration(static_cast<Time::rep>((bytes - buffer_.size()) / bytesPerTick));
  };
  if (timeFor(dataPerPacket) > untilLatency) return untilLatency;
  return timeFor(packetsLeft * dataPerPacket);
}

// With how long the host had left the chip without a transfer when the run began.
void UsbChip::logDropRun(Time::duration at) {
  if (log_ != nullptr)
    std::fprintf(log_, "dropped %" PRIu64 " bytes from stream byte %" PRIu64 " at %.3f s, no transfer for %.1f ms\n",
                 dropRunLength_, dropRunStart_, std::chrono::duration<double>(at).count(),
                 std::chrono::duration<double, std::milli>(dropRunHostIdle_).count());
}

void UsbChip::settlePendingDrops(bool hostWasReading) {
  (hostWasReading ? droppedWhileReading_ : droppedOtherwise_) += pendingDrops_;
  pendingDrops_ = 0;
}

void UsbChip::submitIn(uint32_t sequence, uint32_t length, Time::time_point now) {
  if (!reading_) readingSince_ = now - start_;
  reading_ = true;
  pending_.push_back({sequence, length, now - start_, {}, {}});
}

// The bytes of the packets a transfer has taken have crossed the bus: a transfer cancelled
// after its first packet finishes with them instead, as a host controller gives them back.
bool UsbChip::unlinkIn(uint32_t sequence) {
  auto found = std::find_if(pending_.begin(), pending_.end(),
                            [sequence](const Transfer& transfer) { return transfer.sequence == sequence; });
  if (found == pending_.end()) return false;
  const bool cancelled = found->data.empty();
  if (!cancelled) finish(std::move(*found));
  pending_.erase(found);
  return cancelled;
}

void UsbChip::finish(Transfer&& transfer) {
  if (sent_ != nullptr) std::fwrite(transfer.streamBytes.data(), 1, transfer.streamBytes.size(), sent_);
  sentBytes_ += transfer.streamBytes.size();
  finished_.push_back({transfer.sequence, false, std::move(transfer.data)});
}

std::vector<UsbChip::Finished> UsbChip::takeFinished() {
  std::vector<Finished> finished;
  finished.swap(finished_);
  return finished;
}

void UsbChip::purge() {
  buffer_.clear();
  settlePendingDrops(false);
  reading_ = false;
}

void UsbChip::powerCycle() {
  pending_.clear();
  finished_.clear();
  purge();
  latencyMs_ = 16;
  bitMode_ = 0;
}

namespace {

enum Request : uint8_t {
  kReset = 0x00,
  kModemControl = 0x01,
  kSetFlowControl = 0x02,
  kSetBaudRate = 0x03,
  kSetData = 0x04,
  kGetModemStatus = 0x05,
  kSetEventChar = 0x06,
  kSetErrorChar = 0x07,
  kSetLatencyTimer = 0x09,
  kGetLatencyTimer = 0x0a,
  kSetBitMode = 0x0b,
  kReadPins = 0x0c,
  kReadEeprom = 0x90,
  kWriteEeprom = 0x91,
  kEraseEeprom = 0x92,
};

const char* requestName(uint8_t request) {
  switch (request) {
    case kReset: return "RESET";
    case kModemControl: return "MODEM_CTRL";
    case kSetFlowControl: return "SET_FLOW_CTRL";
    case kSetBaudRate: return "SET_BAUDRATE";
    case kSetData: return "SET_DATA";
    case kGetModemStatus: return "GET_MODEM_STATUS";
    case kSetEventChar: return "SET_EVENT_CHAR";
    case kSetErrorChar: return "SET_ERROR_CHAR";
    case kSetLatencyTimer: return "SET_LATENCY_TIMER";
    case kGetLatencyTimer: return "GET_LATENCY_TIMER";
    case kSetBitMode: return "SET_BITMODE";
    case kReadPins: return "READ_PINS";
    case kReadEeprom: return "READ_EEPROM";
    case kWriteEeprom: return "WRITE_EEPROM";
    case kEraseEeprom: return "ERASE_EEPROM";
    default: return nullptr;
  }
}

}  // namespace

bool UsbChip::vendorRequest(uint8_t request, uint16_t value, uint16_t index, std::vector<uint8_t>& reply) {
  const char* name = requestName(request);
  if (log_ != nullptr)
    std::fprintf(log_, "request %s value=0x%04x index=%u sent=%" PRIu64 " at %.3f s\n",
                 name != nullptr ? name : "unknown", value, index, sentBytes_,
                 std::chrono::duration<double>(now_).count());
  reply.clear();
  switch (request) {
    case kReset:
      if (value != 2) purge();  // 0 resets the chip, 1 purges what waits for the host, 2 the other way
      break;
    case kSetLatencyTimer: latencyMs_ = static_cast<uint8_t>(value); break;
    case kGetLatencyTimer: reply = {latencyMs_}; break;
    case kSetBitMode: bitMode_ = static_cast<uint8_t>(value >> 8); break;
    case kGetModemStatus: reply.assign(kModemStatus, kModemStatus + sizeof kModemStatus); break;
    case kReadPins: reply = {bitMode_}; break;
    case kReadEeprom: reply = {0, 0}; break;  // a blank EEPROM
    default: break;
  }
  return name != nullptr;
}

void UsbChip::logTotals() {
  settlePendingDrops(false);
  if (log_ == nullptr) return;
  if (dropRunLength_ > 0) logDropRun(now_);
  std::fprintf(log_, "sent %" PRIu64 " bytes, dropped %" PRIu64 " while the host read and %" PRIu64 " while it did not\n",
               sentBytes_, droppedWhileReading_, droppedOtherwise_);
}
