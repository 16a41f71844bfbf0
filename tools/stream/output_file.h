// Output files that appear only when complete. A regular output is written under a unique
// temporary name in its own folder and renamed over the output's name at the end, so that a run
// that fails or is interrupted never leaves a partial file, and two runs writing one output leave
// one of their files whole. An output that is a symlink is followed and its target replaced, as
// a shell's redirection writes through one: a link is how a user puts a file elsewhere, and
// the link stays. A character device or a FIFO (/dev/null, a pipe to another program) is
// written directly, as a redirection would; nothing there can be renamed, and a device node
// must stay one.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// A file as the system knows it, whatever the name it is reached by.
struct FileIdentity {
  dev_t device;
  ino_t inode;
};

// The identity of the file at `path` (symlinks followed); false when there is none.
bool identify(const char* path, FileIdentity& identity);

// SIGINT, SIGTERM and SIGHUP remove the temporary file being written, then end the program as
// they would have.
void removeTemporaryFileOnSignals();

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { abandon(); }

  // Refuses a folder, a block device and an output that is one of `inputs`. 0 or kBadInput.
  int open(const char* path, const std::vector<FileIdentity>& inputs = {});
  FILE* stream() const { return stream_; }
  // Whether the output can be sought in (a regular file) or must be written straight through.
  bool seekable() const { return !direct_; }
  const std::string& path() const { return path_; }

  // Pushes the file to the disk and gives it the output's name. 0 or kBadInput.
  int finish();
  // Removes the temporary file; reports "cannot write PATH: WHY" and the note, if one is set,
  // and returns kBadInput.
  int fail(const char* why);
  void setFailureNote(std::string note) { failureNote_ = std::move(note); }
  void abandon();

 private:
  int openTemporary(const std::string& target);

  std::string path_, target_, temporaryPath_, failureNote_;
  FILE* stream_ = nullptr;
  bool direct_ = false;
};

// Writes all of `bytes`; on a failure abandons the output, says why and returns kBadInput.
int writeBytes(OutputFile& output, const void* bytes, size_t size);
