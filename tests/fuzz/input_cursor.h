// Common ground of the fuzz targets in this folder: each feeds arbitrary input to one part of
// the program (the frame decoder, the stream reader over a scripted driver, the stream encoder)
// and checks what must hold whatever the input. A broken rule names itself and aborts, so that
// libFuzzer keeps the input as a crash reproducer.
#pragma once
#include <cstdio>
#include <cstdlib>

inline void check(bool holds, const char* rule) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", rule);
  std::abort();
}

// Consumes input bytes front to back; reads past the end give 0.
struct InputCursor {
  const unsigned char* data;
  size_t size;
  size_t position = 0;
  bool atEnd() const { return position >= size; }
  unsigned char next() { return position < size ? data[position++] : 0; }
};
