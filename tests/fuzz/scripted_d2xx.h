// A D2XX driver stand-in for the stream reader's fuzz target, linked in place of the library.
// Every read draws its status and byte count from the fuzz input; the bytes it delivers are a
// fixed sequence (streamByte), so that the target can tell which byte the reader serves. Each
// call checks what the link must never do: use a handle that is not open, open twice, ask for
// more than the 256-byte read buffer or read while delivered bytes are still unserved.
#pragma once
#include <cstdint>

#include "d2xx.h"
#include "fuzz_check.h"

namespace ScriptedD2xx {

struct Driver {
  InputCursor* input = nullptr;             // what the reads are drawn from
  FT_STATUS sequenceStatuses[4] = {};       // open, bit mode, transfer size, time-outs
  FT_HANDLE openHandle = nullptr;           // null while closed
  uint32_t handlesIssued = 0;
  uint64_t delivered = 0;                   // bytes delivered by successful reads
  uint64_t served = 0;                      // bytes the reader has served (kept by the target)
  uint32_t readsThisStep = 0;
  bool lastReadFailed = false;              // an error status, no bytes, or an overlong count
};

extern Driver driver;

// Byte `index` of the stream the device delivers.
inline uint8_t streamByte(uint64_t index) { return static_cast<uint8_t>((index * 0x9E3779B1u) >> 13); }

}  // namespace ScriptedD2xx
