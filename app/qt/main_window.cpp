#include "main_window.h"

#include <QAction>
#include <QLayout>
#include <QMenuBar>
#include <QTimer>

#include "buffer_size_dialog.h"
#include "picture_view.h"

MainWindow::MainWindow(Viewer& viewer, Settings& settings, QWidget* parent)
    : QMainWindow(parent),
      viewer_(viewer),
      settings_(settings),
      pictureView_(new PictureView(viewer.picture(), this)),
      frameTimer_(new QTimer(this)) {
  setWindowTitle(QString::fromLatin1(FrameStats::kInitialTitle));
  setCentralWidget(pictureView_);
  pictureView_->setWide(settings_.wide != 0);
  // The window is as large as the picture below the menu bar, and follows it when Wide changes.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  createMenus();
  // A coarse timer may stretch the period by 5 %, which would cost frames at 60 a second.
  frameTimer_->setTimerType(Qt::PreciseTimer);
  connect(frameTimer_, &QTimer::timeout, this, &MainWindow::runFrame);
  frameTimer_->start(kFramePeriodMs);
}

void MainWindow::createMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);

  QMenu* mode = menuBar()->addMenu(tr("&Mode"));
  wideAction_ = mode->addAction(tr("&Wide"), this, &MainWindow::toggleWide);
  wideAction_->setCheckable(true);
  wideAction_->setChecked(settings_.wide != 0);
  screen4Action_ = mode->addAction(tr("&Screen4"), this, &MainWindow::toggleScreen4);
  screen4Action_->setCheckable(true);
  screen4Action_->setChecked(settings_.scr4 != 0);
  mode->addAction(tr("USB &Buffer Size…"), this, &MainWindow::openBufferSizeDialog);
}

// Decodes one frame; the read blocks this thread until the device delivers or its time-out
// passes, so frames follow the device's pace, at most one per tick.
void MainWindow::runFrame() {
  switch (viewer_.tick(settings_.pictureMode())) {
    case TickResult::DeviceFailed:
      frameTimer_->stop();
      emit deviceFailed();
      return;
    case TickResult::NoFrame:
      return;
    case TickResult::NewTitle:
      setWindowTitle(QString::fromLatin1(viewer_.title()));
      [[fallthrough]];
    case TickResult::FrameShown:
      pictureView_->update();
      return;
  }
}

// The flags count as on when non-zero, as in a file the user edited; a toggle stores 0 or 1.
void MainWindow::toggleWide() {
  settings_.wide = settings_.wide == 0 ? 1 : 0;
  wideAction_->setChecked(settings_.wide != 0);
  pictureView_->setWide(settings_.wide != 0);
}

void MainWindow::toggleScreen4() {
  settings_.scr4 = settings_.scr4 == 0 ? 1 : 0;
  screen4Action_->setChecked(settings_.scr4 != 0);
}

// Modal, but not a nested event loop: frames go on while it is open.
void MainWindow::openBufferSizeDialog() {
  auto* dialog = new BufferSizeDialog(settings_.bufsize, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &BufferSizeDialog::readSizeAccepted, this, &MainWindow::changeReadSize);
  dialog->open();
}

// Between two frames: bytes already read are served first, then reads take the new size.
void MainWindow::changeReadSize(int32_t readSize) {
  settings_.bufsize = readSize;
  viewer_.changeReadSize(readSize);
}
