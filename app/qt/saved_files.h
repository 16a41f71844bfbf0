// What the viewer saves at the user's command, and where: recordings of the device's stream
// (kestravu-YYYYMMDD-HHMMSS.kvs) in the videos folder, pictures (the same name, .png) in the
// pictures folder.
#pragma once
#include <QFile>
#include <QImage>
#include <QString>
#include <memory>

#include "frame_buffer.h"
#include "recording_link.h"

struct OutputFolders {
  QString videos;
  QString pictures;

  // The user's videos and pictures folders.
  static OutputFolders standard();
};

// A new file named after the local time, "kestravu-YYYYMMDD-HHMMSS" + `suffix`, in `folder`,
// which is created when missing, open for writing with `mode` added. A name taken by an earlier
// file (two saves in one second) gets "-2", "-3", ... before the suffix: no file is ever
// overwritten. Null, with the reason in `error`, when the folder or the file cannot be made.
std::unique_ptr<QFile> createTimestampedFile(const QString& folder, const QString& suffix,
                                             QIODevice::OpenMode mode, QString& error);

// A new recording's file in `folder`, named as createTimestampedFile() names it, open for
// writing without Qt's buffer, and locked against other recordings (the lock goes with the
// file's closing). Null, with the reason in `error`, when it cannot be made or locked.
std::unique_ptr<QFile> createRecording(const QString& folder, QString& error);
// The recording's file at `path`, created when missing, open and locked as above, then emptied.
// Refused, with the reason in `error`: an empty name, anything but a regular file (a FIFO or a
// device, never waited on), a file another recording holds (left as it is), a file that cannot
// be written.
std::unique_ptr<QFile> openRecording(const QString& path, QString& error);

// A recording's file, written through its descriptor (open without Qt's buffer), as the
// recording link writes: the file is closed when the recording ends.
class RecordingFile final : public RecordingSink {
 public:
  explicit RecordingFile(std::unique_ptr<QFile> file)
      : file_(std::move(file)), descriptor_(file_->handle()) {}
  int write(const uint8_t* bytes, uint32_t count) override {
    return descriptor_.write(bytes, count);
  }
  int sync() override { return descriptor_.sync(); }

 private:
  std::unique_ptr<QFile> file_;
  FileDescriptorSink descriptor_;
};

// The picture as the window shows it at normal or Wide scale: top line first, opaque.
QImage shownPicture(const FrameBuffer& picture, bool wide);

// Saves the shown picture as a new PNG file in `folder`; its path, or the reason it could not
// be saved, in `result`. A picture that cannot be written whole leaves no file.
bool savePicture(const FrameBuffer& picture, bool wide, const QString& folder, QString& result);
