// kestravu, the native Linux viewer: a Qt 6 Widgets front end over the core (core/viewer.h),
// which decodes the device's stream one frame per 16 ms tick on the one GUI thread. This folder
// owns:
//   main.cpp             the entry point, its options and the stream file it may be given
//   program.h            start-up, the event loop and shutdown, with the start-up messages
//   main_window.h        the window: menus, frame timer, title, full screen
//   picture_view.h       the widget that presents the picture
//   recording_link.h     the link the viewer reads through: device or stream file, recording
//   saved_files.h        recordings and pictures: folders, names, the picture as shown
//   buffer_size_dialog.h the dialog for the USB read size
//   settings_store.h     the settings file, compatible with the Windows program's
#pragma once
#include <QMainWindow>
#include <cstdint>
#include <memory>

#include "saved_files.h"
#include "settings.h"
#include "settings_store.h"
#include "stream_file_link.h"
#include "viewer.h"

class PictureView;
class QAction;
class QLabel;
class QTimer;
class RecordingLink;

// What the window works on; all of it outlives the window.
struct ViewerParts {
  Viewer& viewer;       // buffers allocated
  RecordingLink& link;  // the link the viewer reads through
  Settings& settings;
  ViewSettings& view;
};

class MainWindow final : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kFramePeriodMs = 16;

  // The frame timer starts at once and runs while the event loop does: before that, the device
  // must be open, or a stream file playing (openStream).
  MainWindow(const ViewerParts& parts, OutputFolders folders, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Plays the capture stream in the file at `path` instead of the device, from its start and
  // over and over; the device is closed. False, with the reason in `error`, when the file
  // cannot be read or holds no whole frame: what played goes on.
  bool openStream(const QString& path, QString& error);
  // Records the device's stream into the file at `path`, replaced if it exists, as Record
  // Stream does into a new file. False, with the reason in `error`, when it cannot be written.
  bool recordTo(const QString& path, QString& error);

 signals:
  // The device failed or fell silent for the read time-out: the program ends. No more frames
  // are decoded.
  void deviceFailed();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void createFileMenu();
  void createModeMenu();
  void createViewMenu();
  void runFrame();
  void toggleWide();
  void toggleScreen4();
  void openBufferSizeDialog();
  void changeReadSize(int32_t readSize);
  void toggleRecording(bool on);
  void stopRecording();
  void showRecordingState();
  void savePicture();
  void chooseStream();
  void closeStream();
  void showSource();
  void setScale(int scale);
  void setFullScreen(bool on);
  void showWarning(const QString& text);

  Viewer& viewer_;
  RecordingLink& link_;
  Settings& settings_;
  ViewSettings& view_;
  const OutputFolders folders_;
  std::unique_ptr<StreamFileLink> streamFile_;  // the file that plays, null while the device does
  PictureView* pictureView_;
  QTimer* frameTimer_;
  QLabel* recordingMark_;
  QAction* recordAction_ = nullptr;
  QAction* closeStreamAction_ = nullptr;
  QAction* wideAction_ = nullptr;
  QAction* screen4Action_ = nullptr;
  QAction* fullScreenAction_ = nullptr;
  QAction* leaveFullScreenAction_ = nullptr;
};
