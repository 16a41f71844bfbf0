// A scripted D2XX driver behind a D2xxFunctions table, for the link's tests and the stream
// reader's fuzz target. It logs every call with its handle and arguments ("FT_SetUSBParameters
// h1 32 0"), returns the statuses its owner sets, and answers reads from scripted reads, then
// from a stream cut into chunks; a subclass may answer them its own way. Calls the link must
// never make (on a handle that is not open, a second open, a size beyond the 256-byte read
// buffer) are reported as misuse. The table's functions reach the one driver alive.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "d2xx.h"

class ScriptedD2xx {
 public:
  struct Read {
    FT_STATUS status = FT_OK;
    std::vector<uint8_t> bytes;  // copied up to the count asked for
    int64_t claimed = -1;        // the count reported, when not the bytes copied
  };

  ScriptedD2xx();
  virtual ~ScriptedD2xx();
  ScriptedD2xx(const ScriptedD2xx&) = delete;
  ScriptedD2xx& operator=(const ScriptedD2xx&) = delete;

  static const D2xxFunctions& functions();
  // The handle issued by the n-th successful open, n = 1, 2, ...
  static FT_HANDLE handle(uint32_t n);
  // The calls whose text starts with `prefix`.
  int countCalls(const std::string& prefix) const;
  FT_HANDLE openHandle() const { return openHandle_; }

  // What the driver answers.
  FT_STATUS openStatus = FT_OK;
  FT_STATUS bitModeStatus = FT_OK;
  FT_STATUS usbParametersStatus = FT_OK;
  FT_STATUS timeoutsStatus = FT_OK;
  FT_STATUS closeStatus = FT_OK;
  std::deque<Read> reads;
  std::vector<uint8_t> stream;              // served after the scripted reads run out
  std::vector<uint32_t> chunkSizes{65536};  // most bytes a read of the stream brings, in turn

  // What it saw.
  std::vector<std::string> calls;
  std::vector<std::string> misuse;
  uint32_t handlesIssued = 0;
  uint32_t largestReadCount = 0;
  const void* lastReadBuffer = nullptr;

 protected:
  // The outcome of a read of `count` bytes (1 ... 256). Whatever the read does not fill holds
  // garbage, as a real driver may leave it.
  virtual Read nextRead(uint32_t count);
  virtual void misused(const std::string& rule) { misuse.push_back(rule); }

 private:
  friend struct ScriptedD2xxCalls;  // the table's six functions
  void record(const char* function, FT_HANDLE handle, const std::string& arguments);
  bool checkOpen(FT_HANDLE handle);
  Read streamRead(uint32_t count);

  static ScriptedD2xx* active_;
  FT_HANDLE openHandle_ = nullptr;  // null while closed
  size_t streamPosition_ = 0;
  size_t chunkIndex_ = 0;
};
