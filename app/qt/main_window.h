// kestravu, the native Linux viewer: a Qt 6 Widgets front end over the core (core/viewer.h),
// which decodes the device's stream one frame per 16 ms tick on the one GUI thread. This folder
// owns:
//   main.cpp             the entry point and its two options, --version and --help
//   program.h            start-up, the event loop and shutdown, with the start-up messages
//   main_window.h        the window: menus, frame timer, title
//   picture_view.h       the widget that presents the picture
//   buffer_size_dialog.h the dialog for the USB read size
//   settings_store.h     the settings file, compatible with the Windows program's
#pragma once
#include <QMainWindow>
#include <cstdint>

#include "settings.h"
#include "viewer.h"

class PictureView;
class QAction;
class QTimer;

class MainWindow final : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kFramePeriodMs = 16;

  // The viewer has its device open and its buffers allocated; both arguments outlive the window.
  // The frame timer starts at once and runs while the event loop does.
  MainWindow(Viewer& viewer, Settings& settings, QWidget* parent = nullptr);

 signals:
  // The device failed or fell silent for the read time-out: the program ends. No more frames
  // are decoded.
  void deviceFailed();

 private:
  void createMenus();
  void runFrame();
  void toggleWide();
  void toggleScreen4();
  void openBufferSizeDialog();
  void changeReadSize(int32_t readSize);

  Viewer& viewer_;
  Settings& settings_;
  PictureView* pictureView_;
  QTimer* frameTimer_;
  QAction* wideAction_ = nullptr;
  QAction* screen4Action_ = nullptr;
};
