#include "output_file.h"

#include <cerrno>
#include <cstring>

#include "command_line.h"

int openOutput(const char* path, OutputFile& output) {
  output.path = path;
  output.temporaryPath = output.path + ".tmp";
  output.file = std::fopen(output.temporaryPath.c_str(), "wb");
  if (output.file == nullptr) return fail("cannot write '%s': %s", path, std::strerror(errno));
  return 0;
}

void abandonOutput(OutputFile& output) {
  if (output.file != nullptr) std::fclose(output.file);
  output.file = nullptr;
  std::remove(output.temporaryPath.c_str());
}

int finishOutput(OutputFile& output) {
  bool failed = std::ferror(output.file) != 0;
  failed = std::fclose(output.file) != 0 || failed;
  output.file = nullptr;
  if (failed || std::rename(output.temporaryPath.c_str(), output.path.c_str()) != 0) {
    int error = errno;
    std::remove(output.temporaryPath.c_str());
    return fail("cannot write '%s': %s", output.path.c_str(), std::strerror(error));
  }
  return 0;
}

int writeBytes(OutputFile& output, const uint8_t* bytes, size_t size) {
  if (std::fwrite(bytes, 1, size, output.file) == size) return 0;
  int error = errno;
  abandonOutput(output);
  return fail("cannot write '%s': %s", output.path.c_str(), std::strerror(error));
}
