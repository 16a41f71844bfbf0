#include "main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>

#include "buffer_size_dialog.h"
#include "picture_view.h"
#include "recording_link.h"

MainWindow::MainWindow(const ViewerParts& parts, OutputFolders folders, QWidget* parent)
    : QMainWindow(parent),
      viewer_(parts.viewer),
      link_(parts.link),
      settings_(parts.settings),
      view_(parts.view),
      folders_(std::move(folders)),
      pictureView_(new PictureView(viewer_.picture(), this)),
      frameTimer_(new QTimer(this)),
      recordingMark_(makeRecordingMark(menuBar())) {
  setWindowTitle(QString::fromLatin1(FrameStats::kInitialTitle));
  setCentralWidget(pictureView_);
  pictureView_->setWide(settings_.wide != 0);
  pictureView_->setWindowScale(view_.scale);
  // The window is as large as the picture below the menu bar, and follows it when Wide or the
  // scale changes.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  menuBar()->setCornerWidget(recordingMark_, Qt::TopRightCorner);
  createFileMenu();
  createModeMenu();
  createViewMenu();
  // The menu bar is hidden in full screen: the window keeps the shortcuts alive.
  for (QAction* menu : menuBar()->actions()) addActions(menu->menu()->actions());
  showSource();
  // A coarse timer may stretch the period by 5 %, which would cost frames at 60 a second.
  frameTimer_->setTimerType(Qt::PreciseTimer);
  connect(frameTimer_, &QTimer::timeout, this, &MainWindow::runFrame);
  frameTimer_->start(kFramePeriodMs);
}

// The file link must not outlive its place in the link the viewer reads through.
MainWindow::~MainWindow() { link_.play(nullptr); }

void MainWindow::createFileMenu() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(tr("&Open Stream…"), QKeySequence::Open, this, &MainWindow::chooseStream);
  closeStreamAction_ = file->addAction(tr("&Close Stream"), this, &MainWindow::closeStream);
  file->addSeparator();
  recordAction_ = file->addAction(tr("&Record Stream"));
  recordAction_->setShortcut(Qt::CTRL | Qt::Key_R);
  recordAction_->setCheckable(true);
  connect(recordAction_, &QAction::triggered, this, &MainWindow::toggleRecording);
  file->addAction(tr("&Save Picture"), QKeySequence::Save, this, &MainWindow::savePicture);
  file->addSeparator();
  file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);
}

void MainWindow::createModeMenu() {
  QMenu* mode = menuBar()->addMenu(tr("&Mode"));
  wideAction_ = mode->addAction(tr("&Wide"), this, &MainWindow::toggleWide);
  wideAction_->setCheckable(true);
  wideAction_->setChecked(settings_.wide != 0);
  screen4Action_ = mode->addAction(tr("&Screen4"), this, &MainWindow::toggleScreen4);
  screen4Action_->setCheckable(true);
  screen4Action_->setChecked(settings_.scr4 != 0);
  mode->addAction(tr("USB &Buffer Size…"), this, &MainWindow::openBufferSizeDialog);
}

void MainWindow::createViewMenu() {
  QMenu* view = menuBar()->addMenu(tr("&View"));
  auto* scales = new QActionGroup(this);
  for (int scale = 1; scale <= ViewSettings::kMaxScale; ++scale) {
    QAction* action =
        view->addAction(tr("Scale &%1×").arg(scale), this, [this, scale] { setScale(scale); });
    action->setShortcut(QKeyCombination(Qt::CTRL, static_cast<Qt::Key>(Qt::Key_0 + scale)));
    action->setCheckable(true);
    action->setChecked(scale == view_.scale);
    scales->addAction(action);
  }
  view->addSeparator();
  fullScreenAction_ = view->addAction(tr("&Fullscreen"));
  fullScreenAction_->setShortcut(Qt::Key_F11);
  fullScreenAction_->setCheckable(true);
  connect(fullScreenAction_, &QAction::triggered, this, &MainWindow::setFullScreen);
  // Not in the menu, which full screen hides.
  leaveFullScreenAction_ = new QAction(tr("Leave Fullscreen"), this);
  leaveFullScreenAction_->setShortcut(Qt::Key_Escape);
  leaveFullScreenAction_->setEnabled(false);
  connect(leaveFullScreenAction_, &QAction::triggered, this, [this] { setFullScreen(false); });
  addAction(leaveFullScreenAction_);
}

// Decodes one frame; the read blocks this thread until the device delivers or its time-out
// passes, so frames follow the device's pace, at most one per tick.
void MainWindow::runFrame() {
  const TickResult result = viewer_.tick(settings_.pictureMode());
  if (recordAction_->isChecked() && !link_.isRecording()) {  // a write failed in that tick
    showWarning(
        tr("Recording stopped: %1\nWhat was recorded until then is kept.").arg(link_.failure()));
    showRecordingState();
  }
  switch (result) {
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

void MainWindow::toggleRecording(bool on) {
  if (!on) return stopRecording();
  QString error;
  std::unique_ptr<QFile> file =
      createTimestampedFile(folders_.videos, QStringLiteral(".kvs"), QIODevice::Unbuffered, error);
  if (file != nullptr) link_.startRecording(std::move(file));
  if (!link_.isRecording())
    showWarning(tr("Recording could not start: %1").arg(file != nullptr ? link_.failure() : error));
  showRecordingState();
}

bool MainWindow::recordTo(const QString& path, QString& error) {
  auto file = std::make_unique<QFile>(path);
  if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
    error = QStringLiteral("%1: %2").arg(path, file->errorString());
    return false;
  }
  link_.startRecording(std::move(file));
  showRecordingState();
  if (!link_.isRecording()) error = link_.failure();
  return link_.isRecording();
}

void MainWindow::stopRecording() {
  if (!link_.stopRecording())
    showWarning(
        tr("The recording's last bytes could not be written: %1\nWhat was written before is kept.")
            .arg(link_.failure()));
  showRecordingState();
}

// The title keeps its format while recording: a mark beside the menu, or over the picture in
// full screen.
void MainWindow::showRecordingState() {
  const bool recording = link_.isRecording(), fullScreen = fullScreenAction_->isChecked();
  recordAction_->setChecked(recording);
  recordingMark_->setToolTip(link_.recordingName());
  recordingMark_->setVisible(recording && !fullScreen);
  pictureView_->setRecordingMark(recording && fullScreen);
}

void MainWindow::savePicture() {
  QString result;
  if (!::savePicture(viewer_.picture(), settings_.wide != 0, folders_.pictures, result))
    showWarning(tr("The picture could not be saved: %1").arg(result));
}

void MainWindow::chooseStream() {
  const QString path = QFileDialog::getOpenFileName(this, tr("Open Stream"), folders_.videos,
                                                    tr("Capture streams (*.kvs);;All files (*)"));
  QString error;
  if (!path.isEmpty() && !openStream(path, error)) showWarning(error);
}

// A recording holds the device's stream alone: it ends where the file starts.
bool MainWindow::openStream(const QString& path, QString& error) {
  auto file = std::make_unique<StreamFileLink>();
  switch (file->load(QFile::encodeName(path).constData())) {
    case StreamFileLink::LoadResult::Loaded:
      break;
    case StreamFileLink::LoadResult::Unreadable:
      error = tr("%1: the file cannot be read.").arg(path);
      return false;
    case StreamFileLink::LoadResult::NoWholeFrame:
      error = tr("%1: no whole frame of a capture stream in it.").arg(path);
      return false;
  }
  if (link_.isRecording()) stopRecording();
  viewer_.closeDevice();
  link_.play(file.get());
  viewer_.openDevice(settings_.bufsize);
  streamFile_ = std::move(file);  // after the switch: the file that played before goes here
  viewer_.restartStream();
  showSource();
  return true;
}

// Opened afresh: bytes the device kept while the file played would tear the first frame, and
// it may have been plugged in or out meanwhile.
void MainWindow::closeStream() {
  link_.play(nullptr);
  if (viewer_.openDevice(settings_.bufsize) != OpenResult::Opened) {
    viewer_.closeDevice();
    link_.play(streamFile_.get());
    showWarning(tr("The capture device cannot be opened: the stream file plays on."));
    return;
  }
  streamFile_.reset();
  viewer_.restartStream();
  showSource();
}

void MainWindow::showSource() {
  closeStreamAction_->setEnabled(streamFile_ != nullptr);
  recordAction_->setEnabled(streamFile_ == nullptr);
}

void MainWindow::setScale(int scale) {
  view_.scale = scale;
  pictureView_->setWindowScale(scale);
}

// Full screen, the picture is drawn at the largest whole scale that fits, centred on black.
void MainWindow::setFullScreen(bool on) {
  fullScreenAction_->setChecked(on);
  leaveFullScreenAction_->setEnabled(on);
  menuBar()->setVisible(!on);
  layout()->setSizeConstraint(on ? QLayout::SetNoConstraint : QLayout::SetFixedSize);
  if (on) setMinimumSize(0, 0), setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  pictureView_->setFullScreen(on);
  showRecordingState();
  if (on)
    showFullScreen();
  else
    showNormal();
}

// The window manager may end full screen by its own means.
void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && !isFullScreen() &&
      fullScreenAction_->isChecked())
    setFullScreen(false);
}

// Not modal: the picture goes on while it is shown.
void MainWindow::showWarning(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("KESTRAVU"), text,
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
}
