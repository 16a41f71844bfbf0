// A scripted stand-in for the D2XX driver, linked into the unit tests in place of the library.
// It records every call with its handle and arguments, returns the statuses a test sets, and
// answers reads from a list of scripted reads, then from a stream cut into given chunk sizes.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "d2xx.h"

namespace FakeD2xx {

struct ScriptedRead {
  FT_STATUS status = FT_OK;
  std::vector<uint8_t> bytes;  // copied up to the count asked for
  int64_t claimed = -1;        // the count reported, when not the bytes copied
};

struct Driver {
  std::vector<std::string> calls;  // e.g. "FT_SetUSBParameters h1 32 0"
  FT_STATUS openStatus = FT_OK;
  FT_STATUS bitModeStatus = FT_OK;
  FT_STATUS usbParametersStatus = FT_OK;
  FT_STATUS timeoutsStatus = FT_OK;
  FT_STATUS closeStatus = FT_OK;
  std::deque<ScriptedRead> reads;
  std::vector<uint8_t> stream;              // served after the scripted reads run out
  std::vector<uint32_t> chunkSizes{65536};  // most bytes a read brings, taken in turn
  size_t streamPosition = 0;
  size_t chunkIndex = 0;
  uint32_t handlesIssued = 0;
  uint32_t largestReadCount = 0;
};

extern Driver driver;

void reset();
// The handle issued by the n-th successful open, n = 1, 2, ...
FT_HANDLE handleNumber(uint32_t n);
// The calls whose text starts with `function`.
int countCalls(const std::string& function);

}  // namespace FakeD2xx
