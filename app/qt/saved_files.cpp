#include "saved_files.h"

#include <QColorSpace>
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

namespace {

constexpr int kMaxNumberedNames = 100;

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

QImage shownPicture(const FrameBuffer& picture, bool wide) {
  const int width = wide ? kBufferWidth : kPictureWidth;
  const int height = wide ? kBufferHeight : kPictureHeight;
  QImage image(width, height, QImage::Format_RGB32);
  for (int line = 0; line < height; ++line) {
    const uint32_t* row = picture.row(line);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(line));
    for (int x = 0; x < width; ++x) out[x] = row[x] | 0xFF000000u;
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
  file->remove();  // half a picture would pass for a whole one
  return false;
}
