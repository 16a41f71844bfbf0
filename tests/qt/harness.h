// What the viewer's tests share: the viewer's window over the simulated device (the stand-in
// libftd2xx.so on the library path, reached through the program's own link), streams and
// reference pictures from the stream tool, and ways to reach windows a running program opens.
#pragma once
#include <QImage>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "clock.h"
#include "main_window.h"
#include "saved_files.h"
#include "settings.h"
#include "viewer_controller.h"

class QAction;
class QWidget;

namespace Harness {

// Sets KESTRAVU_SIM_NAME for the simulated device, which reads its set-up at the first open.
void setUpDevice(const char* name, const QByteArray& value);

// `kestravu-stream pattern` with `frames` frames, written into `directory`.
QString patternStream(const QString& directory, int frames);
// `kestravu-stream decode` of the stream: frame `frame` (from 0) as the tool draws it, or
// all its frames.
QImage referencePicture(const QString& stream, const QString& directory, PictureMode mode,
                        int frame);
QList<QImage> referencePictures(const QString& stream, const QString& directory, PictureMode mode);

// Pixels of the grabbed view that differ from `reference` drawn at the largest whole scale
// that fits the grab's device pixels, centred, on black.
int differingPixels(const QImage& grabbed, const QImage& reference);
// The first of `references` that the grabbed view shows exactly, or -1.
int shownFrame(const QImage& grabbed, const QList<QImage>& references);

// Folders "videos" and "pictures" in `directory`.
OutputFolders foldersIn(const QString& directory);
// The one file in `folder` (a recording, a picture); empty when there is not exactly one.
QString onlyFile(const QString& folder);

// Bytes the simulated device delivered in these lines of its log (KESTRAVU_SIM_LOG), summed by
// the scripts' reader of that log; -1 when it could not run.
qint64 deliveredBytes(const QStringList& logLines);
// `length` bytes of `stream` played over and over, from byte `offset` of that endless stream.
QByteArray loopedSlice(const QByteArray& stream, qint64 offset, qint64 length);

// The window's command with this menu text, e.g. "&Wide".
QAction* action(QWidget* window, const QString& text);

// Runs `act` on the next modal widget, or on the main window, once it is shown; used before a
// call that only returns after the test's action.
void whenModalShown(std::function<void(QWidget*)> act);
void whenMainWindowShown(std::function<void(MainWindow*)> act);
// Chooses `path` in the next file dialog.
void whenFileDialogShown(const QString& path);

// The viewer as the program sets it up, with the window shown.
struct RunningViewer {
  SteadyClock clock;
  std::unique_ptr<DeviceLink> device;
  Settings settings;
  std::unique_ptr<ViewerController> controller;
  ViewSettings view;
  OutputFolders folders;  // to be set before start()
  bool startsLoop = true;  // false: the test starts the controller's loop itself
  std::unique_ptr<MainWindow> window;

  // False, with a test failure, when the device or the window did not come up. The loop starts
  // once the window is shown.
  bool start();
};

}  // namespace Harness
