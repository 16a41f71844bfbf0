// The fuzz targets' input, consumed front to back; reads past the end give 0.
#pragma once
#include <cstddef>

struct InputCursor {
  const unsigned char* data;
  size_t size;
  size_t position = 0;
  bool atEnd() const { return position >= size; }
  unsigned char next() { return position < size ? data[position++] : 0; }
};
