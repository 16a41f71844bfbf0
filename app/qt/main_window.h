// kestravu, the native Linux viewer (Qt 6 Widgets), which decodes the device's frames as they
// arrive on the one GUI thread: its start-up, loop, window, dialog, settings file and saved files.
#pragma once
#include <QMainWindow>
#include <QMessageBox>
#include <cstdint>
#include <memory>

#include "saved_files.h"
#include "settings.h"
#include "settings_store.h"
#include "viewer_controller.h"

class PictureView;
class PlaybackControls;
class QAction;
class QActionGroup;
class QLabel;
class QScreen;

// What the window works on; all of it outlives the window.
struct ViewerParts {
  ViewerController& controller;  // buffers allocated
  Settings& settings;
  ViewSettings& view;
};

class MainWindow final : public QMainWindow {
  Q_OBJECT

 public:
  // Display scales that are a whole number of device pixels only every few logical pixels
  // (1.25, 1.75: every 4) are met within this many.
  static constexpr int kMenuBarSlack = 8;

  // Shows the controller's frames; the controller runs the loop.
  MainWindow(const ViewerParts& parts, OutputFolders folders, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Plays the capture stream in the file at `path` instead of the device, from its start and
  // over and over; the device is closed. False, with the reason in `error`, when the file
  // cannot be read or holds no whole frame: what played goes on.
  bool openStream(const QString& path, QString& error);
  // Records the device's stream into the file at `path`, replaced if it exists, as Record
  // Stream does into a new file. False, with the reason in `error`, when it cannot be written.
  bool recordTo(const QString& path, QString& error);
  // Why the last recording failed, with its file name.
  QString recordingFailure() const;
  QString recordingFailure(int error) const;

 signals:
 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void createFileMenu();
  void createModeMenu();
  void createViewMenu();
  void showTitle(const QString& title);
  void showWaiting(bool waiting);
  void showRecordingEnd(RecordingEnd how, int error);
  void toggleWide();
  void toggleScreen4();
  void openBufferSizeDialog();
  void changeReadSize(int32_t readSize);
  void toggleRecording(bool on);
  void startRecording(std::unique_ptr<QFile> file);
  void showRecordingState();
  void savePicture();
  void chooseStream();
  void closeStream();
  void showSource();
  void showFileEnd(PlaybackController::End how, int error, bool deviceOpened);
  void setScale(int scale);
  void fitWindow();
  int fitMenuBar();
  void followScreen(QScreen* screen);
  void setFullScreen(bool on);
  void showWarning(const QString& text);
  void showNote(const QString& text);
  void showMessage(QMessageBox::Icon icon, const QString& text);

  ViewerController& controller_;
  Settings& settings_;
  ViewSettings& view_;
  const OutputFolders folders_;
  QString recordingName_;  // the file of the recording, or of the last one
  QString streamName_;     // the stream file that plays, or played last
  PictureView* pictureView_;
  QLabel* recordingMark_;
  PlaybackControls* playbackControls_;
  QActionGroup* scales_ = nullptr;  // Scale 1x ... 4x, in that order
  QAction* recordAction_ = nullptr;
  QAction* closeStreamAction_ = nullptr;
  QAction* wideAction_ = nullptr;
  QAction* screen4Action_ = nullptr;
  QAction* fullScreenAction_ = nullptr;
  QAction* leaveFullScreenAction_ = nullptr;
  QMetaObject::Connection screenArea_;  // to the window's screen, once shown
};
