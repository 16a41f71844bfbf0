// The stream tool's command line: its usage, the options each command takes, and the one-line
// report with which bad input ends a run.
#pragma once
#include <vector>

#include "frame_range.h"

constexpr int kBadInput = 2;
extern const char* const kUsage;

// Prints "kestravu-stream: <message>" on stderr; returns kBadInput.
__attribute__((format(printf, 1, 2))) int fail(const char* format, ...);

struct Options {
  std::vector<const char*> operands;
  const char* output = nullptr;
  long keyEvery = 60;
  long frames = 600;
  long framesPerSecond = 60;
  bool wide = false;
  bool screen4 = false;
  FrameRange range;  // --from, --to
};

// `allowed` lists the options of the command, e.g. "--wide --screen4". Returns 0 or kBadInput.
int parseOptions(int argc, char** argv, const char* allowed, Options& options);
