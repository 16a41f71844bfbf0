#include "output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "command_line.h"

namespace {

// The temporary file being written, for the signal handler, which can reach nothing else; a
// run writes one file at a time.
char gTemporaryPath[PATH_MAX];
volatile sig_atomic_t gHasTemporary = 0;

constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};

void removeTemporaryAndEnd(int signalNumber) {
  if (gHasTemporary) unlink(gTemporaryPath);
  raise(signalNumber);  // the default action, once this handler returns
}

// Held while a temporary file is made and noted, or renamed or removed and forgotten, so that
// the handler never sees half of either.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signalNumber : kCleanedSignals) sigaddset(&held, signalNumber);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

void noteTemporary(const std::string& path) {
  std::strncpy(gTemporaryPath, path.c_str(), sizeof gTemporaryPath - 1);
  gHasTemporary = 1;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Where writing `path` lands: the end of its chain of symlinks, which need not exist yet.
bool resolveTarget(const std::string& path, std::string& target) {
  target = path;
  for (int links = 0; links < 40; ++links) {  // as many as the kernel follows
    struct stat status;
    if (lstat(target.c_str(), &status) != 0) return errno == ENOENT;
    if (!S_ISLNK(status.st_mode)) return true;
    char destination[PATH_MAX];
    const ssize_t length = readlink(target.c_str(), destination, sizeof destination - 1);
    if (length < 0) return false;
    destination[length] = '\0';
    target = destination[0] == '/' ? std::string(destination) : folderOf(target) + destination;
  }
  errno = ELOOP;
  return false;
}

// What a file created the ordinary way would get; mkstemp makes it private.
mode_t newFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool identify(const char* path, FileIdentity& identity) {
  struct stat status;
  if (stat(path, &status) != 0) return false;
  identity = FileIdentity{status.st_dev, status.st_ino};
  return true;
}

void removeTemporaryFileOnSignals() {
  for (int signalNumber : kCleanedSignals) {
    struct sigaction action {};
    sigaction(signalNumber, nullptr, &action);
    if (action.sa_handler == SIG_IGN) continue;  // a background job keeps ignoring Ctrl+C
    action.sa_handler = removeTemporaryAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
  }
}

int OutputFile::open(const char* path, const std::vector<FileIdentity>& inputs) {
  path_ = path;
  if (!resolveTarget(path_, target_)) return fail(std::strerror(errno));
  struct stat status;
  if (stat(target_.c_str(), &status) != 0) return openTemporary(target_);
  for (const FileIdentity& input : inputs) {
    if (input.device == status.st_dev && input.inode == status.st_ino)
      return fail("it is one of the inputs");
  }
  if (S_ISDIR(status.st_mode)) return fail(std::strerror(EISDIR));
  if (S_ISREG(status.st_mode)) return openTemporary(target_);
  const int file = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (file < 0) return fail(std::strerror(errno));
  if (fstat(file, &status) != 0 || !(S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode))) {
    ::close(file);
    return fail("not a regular file, a character device or a FIFO");
  }
  direct_ = true;
  stream_ = fdopen(file, "wb");
  if (stream_ == nullptr) ::close(file);
  return stream_ == nullptr ? fail(std::strerror(errno)) : 0;
}

int OutputFile::openTemporary(const std::string& target) {
  // The output's name is cut so that the unique part still fits the 255 bytes of a name.
  const size_t nameStart = folderOf(target).size();
  std::string name = folderOf(target) + target.substr(nameStart, 200) + ".XXXXXX.tmp";
  SignalsHeld held;
  const int file = mkostemps(name.data(), 4, O_CLOEXEC);
  if (file < 0) return fail(std::strerror(errno));
  temporaryPath_ = name;
  noteTemporary(name);
  fchmod(file, newFileMode());  // a file system without modes keeps its own
  stream_ = fdopen(file, "wb");
  if (stream_ == nullptr) ::close(file);
  return stream_ == nullptr ? fail(std::strerror(errno)) : 0;
}

int OutputFile::finish() {
  int error = 0;
  errno = 0;
  if (std::fflush(stream_) != 0 || std::ferror(stream_) != 0) error = errno != 0 ? errno : EIO;
  if (error == 0 && !direct_ && fsync(fileno(stream_)) != 0) error = errno;
  if (std::fclose(stream_) != 0 && error == 0) error = errno;
  stream_ = nullptr;
  if (error != 0) return fail(std::strerror(error));
  if (direct_) return 0;
  SignalsHeld held;
  if (std::rename(temporaryPath_.c_str(), target_.c_str()) != 0) return fail(std::strerror(errno));
  temporaryPath_.clear();
  gHasTemporary = 0;
  return 0;
}

int OutputFile::fail(const char* why) {
  const std::string reason = why;  // strerror's text may not outlive the calls below
  abandon();
  return ::fail("cannot write '%s': %s%s", path_.c_str(), reason.c_str(), failureNote_.c_str());
}

void OutputFile::abandon() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (temporaryPath_.empty()) return;
  SignalsHeld held;
  unlink(temporaryPath_.c_str());
  temporaryPath_.clear();
  gHasTemporary = 0;
}

int writeBytes(OutputFile& output, const void* bytes, size_t size) {
  if (std::fwrite(bytes, 1, size, output.stream()) == size) return 0;
  return output.fail(std::strerror(errno));
}
