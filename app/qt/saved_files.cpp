#include "saved_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QColorSpace>
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kMaxNumberedNames = 100;

QString describedFailure(const QString& path, int error) {
  return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

// Two recordings into one file would interleave: the lock, on the open file, is held until the
// recording's file is closed, also by a viewer that ends without a word. A file system that
// keeps no locks (ENOLCK on some network shares) records unguarded rather than not at all.
bool lockRecording(int descriptor, const QString& path, QString& error) {
  if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) return true;
  error = QObject::tr("%1: another recording is being written into it").arg(path);
  return false;
}

}  // namespace

OutputFolders OutputFolders::standard() {
  return {QStandardPaths::writableLocation(QStandardPaths::MoviesLocation),
          QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)};
}

std::unique_ptr<QFile> createTimestampedFile(const QString& folder, const QString& suffix,
                                             QIODevice::OpenMode mode, QString& error) {
  if (!QDir().mkpath(folder)) {
    error = QObject::tr("%1: the folder cannot be created").arg(folder);
    return nullptr;
  }
  const QString stem =
      QDir(folder).filePath(QStringLiteral("kestravu-") + QDateTime::currentDateTime().toString(
                                                              QStringLiteral("yyyyMMdd-HHmmss")));
  auto file = std::make_unique<QFile>();
  for (int number = 1; number <= kMaxNumberedNames; ++number) {
    file->setFileName(number == 1 ? stem + suffix
                                  : QStringLiteral("%1-%2%3").arg(stem).arg(number).arg(suffix));
    if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | mode)) return file;
    if (!file->exists()) break;  // not taken, but not writable either
  }
  error = QStringLiteral("%1: %2").arg(file->fileName(), file->errorString());
  return nullptr;
}

std::unique_ptr<QFile> createRecording(const QString& folder, QString& error) {
  std::unique_ptr<QFile> file =
      createTimestampedFile(folder, QStringLiteral(".kvs"), QIODevice::Unbuffered, error);
  if (file == nullptr || lockRecording(file->handle(), file->fileName(), error)) return file;
  return nullptr;  // kept: the recording that holds it writes into it
}

// Nothing but a regular file is opened, and without waiting, so that neither a FIFO nor a
// device can hold the start; the file is emptied only once the lock is held.
std::unique_ptr<QFile> openRecording(const QString& path, QString& error) {
  const QString notRegular = QObject::tr("%1: not a regular file").arg(path);
  if (path.isEmpty()) {
    error = QObject::tr("no file name given");
    return nullptr;
  }
  const QByteArray name = QFile::encodeName(path);
  struct stat status = {};
  if (::stat(name.constData(), &status) == 0 && !S_ISREG(status.st_mode)) {
    error = notRegular;
    return nullptr;
  }
  const int descriptor =
      ::open(name.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (descriptor < 0) {
    error = errno == ENXIO ? notRegular : describedFailure(path, errno);  // ENXIO: a FIFO
    return nullptr;
  }
  auto file = std::make_unique<QFile>(path);
  if (!file->open(descriptor, QIODevice::WriteOnly | QIODevice::Unbuffered,
                  QFileDevice::AutoCloseHandle)) {
    error = QStringLiteral("%1: %2").arg(path, file->errorString());
    ::close(descriptor);
    return nullptr;
  }
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
    error = notRegular;
  else if (!lockRecording(descriptor, path, error))
    return nullptr;
  else if (::ftruncate(descriptor, 0) != 0)
    error = describedFailure(path, errno);
  else
    return file;
  return nullptr;
}

QImage shownPicture(const FrameBuffer& picture, bool wide) {
  const PictureSize size = pictureSize(wide);
  QImage image(size.width, size.height, QImage::Format_RGB32);
  for (int line = 0; line < size.height; ++line) {
    const uint32_t* row = picture.row(line);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(line));
    for (int x = 0; x < size.width; ++x) out[x] = row[x] | 0xFF000000u;
  }
  return image;
}

bool savePicture(const FrameBuffer& picture, bool wide, const QString& folder, QString& result) {
  std::unique_ptr<QFile> file =
      createTimestampedFile(folder, QStringLiteral(".png"), QIODevice::NotOpen, result);
  if (file == nullptr) return false;
  QImage image = shownPicture(picture, wide);
  image.setColorSpace(
      QColorSpace::SRgb);  // the palette's values are sRGB, marked as the stream tool marks them
  if (image.save(file.get(), "PNG") && file->flush()) {
    result = file->fileName();
    return true;
  }
  result = QStringLiteral("%1: %2").arg(file->fileName(), file->errorString());
  // Half a picture would pass for a whole one. Closed first: QFile::remove() gives up on a file
  // whose buffer cannot be written out, as on a full disk.
  file->close();
  QFile::remove(file->fileName());
  return false;
}
