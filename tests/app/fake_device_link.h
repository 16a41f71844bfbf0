// A stand-in for the USB capture link in the program's Windows tests: it counts the open,
// reopen and close calls and serves a prepared stream in reads of the current read size.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace FakeDevice {

extern int openResult;  // what DeviceLink::open returns
extern int opens, reopens, closes;
extern std::vector<uint8_t> stream;  // served once; the read after its end fails
extern size_t streamPosition;

void reset();

// A key frame whose first picture line is `firstLineCell` and all other cells `otherCell`.
void appendKeyFrame(uint8_t firstLineCell, uint8_t otherCell);

}  // namespace FakeDevice
