// Output files that appear only when complete: written under a temporary name and renamed over
// the output's name at the end, so that a run that fails never leaves a partial file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// An output file is written as PATH.tmp and renamed to PATH only when it is complete.
struct OutputFile {
  std::string path, temporaryPath;
  FILE* file = nullptr;
};

// Each returns 0 or kBadInput, having said why; on a failure the temporary file is gone.
int openOutput(const char* path, OutputFile& output);
int writeBytes(OutputFile& output, const uint8_t* bytes, size_t size);
int finishOutput(OutputFile& output);
void abandonOutput(OutputFile& output);
