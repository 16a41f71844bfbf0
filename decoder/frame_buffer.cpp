#include "frame_buffer.h"

FrameBuffer frameBuffer;

void fillBitmapHeader(BitmapHeader& header) {
  header = BitmapHeader{};
  header.headerSize = 40;
  header.width = kBufferWidth;
  header.height = kBufferHeight;  // positive: bottom-up
  header.planes = 1;
  header.bitsPerPixel = 32;
  header.compression = 0;
}
