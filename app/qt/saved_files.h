// What the viewer saves at the user's command, and where: recordings of the device's stream
// (kestravu-YYYYMMDD-HHMMSS.kvs) in the videos folder, pictures (the same name, .png) in the
// pictures folder.
#pragma once
#include <QFile>
#include <QImage>
#include <QString>
#include <memory>

#include "frame_buffer.h"

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

// The picture as the window shows it at normal or Wide scale: top line first, opaque.
QImage shownPicture(const FrameBuffer& picture, bool wide);

// Saves the shown picture as a new PNG file in `folder`; its path, or the reason it could not
// be saved, in `result`.
bool savePicture(const FrameBuffer& picture, bool wide, const QString& folder, QString& result);
