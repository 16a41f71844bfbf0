#include "stream_reader.h"

ReadResult StreamReader::refill() {
  uint32_t received = 0;
  ReadResult result = link_.read(readBuffer_, readSize_, received);
  if (result == ReadResult::BytesArrived && received == 0) result = ReadResult::TimedOut;
  if (result == ReadResult::BytesArrived && received > readSize_) result = ReadResult::Overlong;
  fillCount_ = result == ReadResult::BytesArrived ? received : 0;
  readPosition_ = 0;
  lastRefill_ = result;
  return result;
}
