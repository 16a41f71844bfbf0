#include "main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QWindow>

#include <cmath>
#include <cstring>

#include "buffer_size_dialog.h"
#include "device_menu.h"
#include "picture_view.h"
#include "playback_controls.h"

MainWindow::MainWindow(const ViewerParts& parts, OutputFolders folders, QWidget* parent)
    : QMainWindow(parent),
      controller_(parts.controller),
      settings_(parts.settings),
      view_(parts.view),
      folders_(std::move(folders)),
      pictureView_(new PictureView(controller_.picture(), this)),
      recordingMark_(makeRecordingMark(menuBar())),
      playbackControls_(nullptr) {
  setWindowTitle(QString::fromLatin1(FrameStats::kInitialTitle));
  setCentralWidget(pictureView_);
  pictureView_->setWide(settings_.wide != 0);
  // The window is as large as the picture below the menu bar, and follows it when Wide or the
  // scale changes.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  menuBar()->setCornerWidget(recordingMark_, Qt::TopRightCorner);
  createFileMenu();
  createModeMenu();
  createViewMenu();
  playbackControls_ = new PlaybackControls(controller_.playback(), this);
  new DeviceMenu(controller_, menuBar()->addMenu(tr("&Device")));
  fitWindow();
  // The menu bar is hidden in full screen: the window keeps the shortcuts alive.
  for (QAction* menu : menuBar()->actions()) addActions(menu->menu()->actions());
  showSource();
  connect(&controller_, &ViewerController::frameShown, pictureView_,
          qOverload<>(&QWidget::update));
  connect(pictureView_, &PictureView::painted, &controller_, &ViewerController::notePainted);
  connect(&controller_, &ViewerController::titleChanged, this, &MainWindow::showTitle);
  connect(&controller_, &ViewerController::recordingEnded, this, &MainWindow::showRecordingEnd);
  connect(&controller_, &ViewerController::fileEnded, this, &MainWindow::showFileEnd);
  connect(&controller_, &ViewerController::waitingChanged, this, &MainWindow::showWaiting);
  if (controller_.isWaiting()) showWaiting(true);
}

MainWindow::~MainWindow() = default;

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
  scales_ = new QActionGroup(this);
  for (int scale = 1; scale <= ViewSettings::kMaxScale; ++scale) {
    QAction* action =
        view->addAction(tr("Scale &%1×").arg(scale), this, [this, scale] { setScale(scale); });
    action->setShortcut(QKeyCombination(Qt::CTRL, static_cast<Qt::Key>(Qt::Key_0 + scale)));
    action->setCheckable(true);
    scales_->addAction(action);
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

void MainWindow::showTitle(const QString& title) {
  if (!controller_.isWaiting()) setWindowTitle(title);
}

// The title's format, with what the window waits for in place of the figures.
void MainWindow::showWaiting(bool waiting) {
  setWindowTitle(waiting ? tr("KESTRAVU [waiting for the KESTRAVU device]") : controller_.title());
}

void MainWindow::toggleWide() {
  settings_.toggleWide();
  wideAction_->setChecked(settings_.wide != 0);
  controller_.redraw();
  pictureView_->setWide(settings_.wide != 0);
  fitWindow();
}

void MainWindow::toggleScreen4() {
  settings_.toggleScreen4();
  screen4Action_->setChecked(settings_.scr4 != 0);
  controller_.redraw();
  pictureView_->update();
}

// Modal, but not a nested event loop: frames go on while it is open.
void MainWindow::openBufferSizeDialog() {
  auto* dialog = new BufferSizeDialog(settings_.bufsize, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &BufferSizeDialog::readSizeAccepted, this, &MainWindow::changeReadSize);
  dialog->open();
}

// Between two frames: bytes already read are served first, then reads take the new size.
void MainWindow::changeReadSize(int32_t readSize) { controller_.changeReadSize(readSize); }

void MainWindow::toggleRecording(bool on) {
  if (!on) {
    controller_.stopRecording();
    return;
  }
  QString error;
  std::unique_ptr<QFile> file = createRecording(folders_.videos, error);
  if (file == nullptr) showWarning(tr("Recording could not start: %1").arg(error));
  startRecording(std::move(file));
}

bool MainWindow::recordTo(const QString& path, QString& error) {
  std::unique_ptr<QFile> file = openRecording(path, error);
  if (file == nullptr) return false;
  startRecording(std::move(file));
  return true;
}

void MainWindow::startRecording(std::unique_ptr<QFile> file) {
  if (file != nullptr) {
    recordingName_ = file->fileName();
    controller_.startRecording(std::make_unique<RecordingFile>(std::move(file)));
  }
  showRecordingState();
}

QString MainWindow::recordingFailure() const {
  return recordingFailure(controller_.recordingFailure());
}

QString MainWindow::recordingFailure(int error) const {
  return QStringLiteral("%1: %2").arg(recordingName_,
                                      QString::fromLocal8Bit(std::strerror(error)));
}

void MainWindow::showRecordingEnd(RecordingEnd how, int error) {
  if (how == RecordingEnd::Failed)
    showWarning(tr("Recording stopped: %1\nWhat was recorded until then is kept.")
                    .arg(recordingFailure(error)));
  else if (error != 0)
    showWarning(tr("The recording's last bytes could not be written: %1\nWhat was written "
                   "before is kept.")
                    .arg(recordingFailure(error)));
  else if (how == RecordingEnd::ForStreamFile)
    showNote(tr("Recording stopped: a stream file plays instead of the device.\n"
                "The recording is saved as %1.")
                 .arg(recordingName_));
  showRecordingState();
}

// The title keeps its format while recording: a mark beside the menu, or over the picture in
// full screen.
void MainWindow::showRecordingState() {
  const bool recording = controller_.isRecording(), fullScreen = fullScreenAction_->isChecked();
  recordAction_->setChecked(recording);
  recordingMark_->setToolTip(recording ? recordingName_ : QString());
  recordingMark_->setVisible(recording && !fullScreen);
  pictureView_->setRecordingMark(recording && fullScreen);
}

void MainWindow::savePicture() {
  QString result;
  if (!::savePicture(controller_.picture(), settings_.wide != 0, folders_.pictures, result))
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
  switch (controller_.playFile(QFile::encodeName(path))) {
    case StreamFilePlayer::LoadResult::Loaded:
      break;
    case StreamFilePlayer::LoadResult::NotFound:
      error = tr("%1: there is no such file.").arg(path);
      return false;
    case StreamFilePlayer::LoadResult::NotRegular:
      error = tr("%1: not a regular file.").arg(path);
      return false;
    case StreamFilePlayer::LoadResult::Unreadable:
      error = tr("%1: the file cannot be read: %2.")
                  .arg(path, QString::fromLocal8Bit(std::strerror(controller_.playback().loadError())));
      return false;
    case StreamFilePlayer::LoadResult::NoWholeFrame:
      error = tr("%1: no whole frame of a capture stream in it.").arg(path);
      return false;
  }
  streamName_ = path;
  showSource();
  return true;
}

void MainWindow::closeStream() {
  if (controller_.playDevice() != OpenResult::Opened)
    showWarning(controller_.playsFile()
                    ? tr("The capture device cannot be opened: the stream file plays on.")
                    : tr("The capture device cannot be opened."));
  showSource();
}

void MainWindow::showSource() {
  closeStreamAction_->setEnabled(!controller_.playsDevice());
  recordAction_->setEnabled(controller_.playsDevice());
  playbackControls_->setActive(controller_.playsFile());
  fitWindow();
}

// Nothing plays when the device cannot be opened either: the last picture stays, and the user
// may open another file, try the device again with Close Stream, or quit.
void MainWindow::showFileEnd(PlaybackController::End how, int error, bool deviceOpened) {
  QString text = how == PlaybackController::End::NoWholeFrame
                     ? tr("%1 was cut short: no whole frame is left in it.").arg(streamName_)
                     : tr("%1 can no longer be read: %2.")
                           .arg(streamName_, QString::fromLocal8Bit(std::strerror(error)));
  text += '\n' + (deviceOpened ? tr("The capture device plays again.")
                               : tr("The capture device cannot be opened: nothing plays."));
  showWarning(text);
  showSource();
}

// The settings keep the scale chosen; the window may show a lower one.
void MainWindow::setScale(int scale) {
  view_.scale = scale;
  fitWindow();
}

// The chosen scale, or the largest whole one below it whose window fits the screen's available
// area, frame included; the menu shows the one in use.
void MainWindow::fitWindow() {
  const QSize available = screen()->availableGeometry().size() - (frameSize() - size());
  const int menuHeight = fitMenuBar();
  auto fits = [&](int scale) {
    const QSize view = pictureView_->windowSize(scale);
    return view.width() <= available.width() &&
           view.height() + menuHeight + playbackControls_->barHeight() <= available.height();
  };
  int scale = view_.scale;
  while (scale > 1 && !fits(scale)) --scale;
  pictureView_->setWindowScale(scale);
  scales_->actions().at(scale - 1)->setChecked(true);
}

// At a fractional display scale the picture must start on a whole device pixel, or it would be
// drawn a pixel off, under the menu bar's last row: the menu bar takes the least height at or
// above its own that is a whole number of device pixels. Returns that height.
int MainWindow::fitMenuBar() {
  const qreal ratio = devicePixelRatioF();
  const int natural = menuBar()->sizeHint().height();
  for (int height = natural; height < natural + kMenuBarSlack; ++height) {
    const qreal device = height * ratio;
    if (std::abs(device - std::round(device)) < 1e-6) {
      menuBar()->setFixedHeight(height);
      return height;
    }
  }
  return natural;
}

// The window manager's frame is known once shown; the window may move to a screen of another
// size or display scale later, or its screen may change.
void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (screenArea_) return fitWindow();
  connect(windowHandle(), &QWindow::screenChanged, this, &MainWindow::followScreen);
  followScreen(windowHandle()->screen());
}

void MainWindow::followScreen(QScreen* screen) {
  disconnect(screenArea_);
  screenArea_ = connect(screen, &QScreen::availableGeometryChanged, this, &MainWindow::fitWindow);
  fitWindow();
}

// Full screen, the picture is drawn at the largest whole scale that fits, centred on black.
void MainWindow::setFullScreen(bool on) {
  fullScreenAction_->setChecked(on);
  leaveFullScreenAction_->setEnabled(on);
  menuBar()->setVisible(!on);
  layout()->setSizeConstraint(on ? QLayout::SetNoConstraint : QLayout::SetFixedSize);
  if (on) {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  pictureView_->setFullScreen(on);
  playbackControls_->setFullScreen(on);
  showRecordingState();
  if (on)
    showFullScreen();
  else
    showNormal();
}

// Closing the window ends the program: no frame may hold up its way out, as a file's can for a
// second on a stream without frames.
void MainWindow::closeEvent(QCloseEvent* event) {
  controller_.stop();
  QMainWindow::closeEvent(event);
}

// The window manager may end full screen by its own means.
void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && !isFullScreen() &&
      fullScreenAction_->isChecked())
    setFullScreen(false);
}

void MainWindow::showWarning(const QString& text) { showMessage(QMessageBox::Warning, text); }

void MainWindow::showNote(const QString& text) { showMessage(QMessageBox::Information, text); }

// Not modal: the picture goes on while it is shown.
void MainWindow::showMessage(QMessageBox::Icon icon, const QString& text) {
  auto* box = new QMessageBox(icon, QStringLiteral("KESTRAVU"), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
}
