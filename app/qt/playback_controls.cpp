#include "playback_controls.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>

PlaybackControls::PlaybackControls(PlaybackController& playback, QMainWindow* window)
    : QObject(window),
      playback_(playback),
      window_(window),
      menu_(window->menuBar()->addMenu(tr("&Playback"))),
      bar_(new QWidget),
      slider_(new QSlider(Qt::Horizontal, bar_)),
      position_(new QLabel(bar_)),
      state_(new QLabel(bar_)) {
  pause_ = menu_->addAction(tr("&Pause"));
  pause_->setShortcut(Qt::Key_Space);
  pause_->setCheckable(true);
  connect(pause_, &QAction::triggered, &playback_, &PlaybackController::togglePause);
  menu_->addSeparator();
  addAction(tr("&Next Frame"), Qt::Key_Period, [this] { playback_.stepForward(); });
  addAction(tr("P&revious Frame"), Qt::Key_Comma, [this] { playback_.stepBack(); });
  addAction(tr("Forward 5 s"), Qt::Key_Right, [this] { playback_.jump(PlaybackController::kJumpFrames); });
  addAction(tr("Back 5 s"), Qt::Key_Left, [this] { playback_.jump(-PlaybackController::kJumpFrames); });
  addAction(tr("&First Frame"), Qt::Key_Home, [this] { playback_.goToFirst(); });
  addAction(tr("&Last Frame"), Qt::Key_End, [this] { playback_.goToLast(); });
  menu_->addSeparator();
  addAction(tr("&Slower"), Qt::Key_BracketLeft, [this] { playback_.slower(); });
  addAction(tr("&Faster"), Qt::Key_BracketRight, [this] { playback_.faster(); });

  // The keys are the window's: a slider with the focus would take the arrows, Home and End.
  slider_->setFocusPolicy(Qt::NoFocus);
  auto* layout = new QHBoxLayout(bar_);
  layout->setContentsMargins(4, 0, 4, 0);
  layout->addWidget(slider_, 1);
  layout->addWidget(position_);
  layout->addWidget(state_);
  auto* statusBar = new QStatusBar;
  statusBar->setSizeGripEnabled(false);
  statusBar->addWidget(bar_, 1);
  window->setStatusBar(statusBar);
  connect(slider_, &QSlider::valueChanged, this, &PlaybackControls::followSlider);
  connect(&playback_, &PlaybackController::positionChanged, this, &PlaybackControls::showPosition);
  connect(&playback_, &PlaybackController::stateChanged, this, &PlaybackControls::showState);
  setActive(false);
}

void PlaybackControls::addAction(const QString& text, const QKeySequence& key,
                                 const std::function<void()>& call) {
  QAction* action = menu_->addAction(text);
  action->setShortcut(key);
  connect(action, &QAction::triggered, &playback_, call);
}

void PlaybackControls::setActive(bool active) {
  active_ = active;
  menu_->menuAction()->setVisible(active);
  for (QAction* action : menu_->actions()) action->setEnabled(active);
  showBar();
}

void PlaybackControls::setFullScreen(bool fullScreen) {
  fullScreen_ = fullScreen;
  showBar();
}

void PlaybackControls::showBar() { window_->statusBar()->setVisible(active_ && !fullScreen_); }

int PlaybackControls::barHeight() const {
  return window_->statusBar()->isVisibleTo(window_) ? window_->statusBar()->sizeHint().height() : 0;
}

QString PlaybackControls::positionText(qint64 frame, qint64 total, bool totalKnown) {
  const QString atLeast = totalKnown ? QString() : QStringLiteral("≥");
  auto time = [](qint64 frames) {
    const qint64 hundredths = frames * 100 / PlaybackController::kFramesPerSecond;
    return QStringLiteral("%1:%2.%3")
        .arg(hundredths / 6000)
        .arg(hundredths / 100 % 60, 2, 10, QLatin1Char('0'))
        .arg(hundredths % 100, 2, 10, QLatin1Char('0'));
  };
  const qint64 last = std::max<qint64>(total - 1, 0);
  return tr("Frame %1 / %2%3  %4 / %2%5")
      .arg(frame)
      .arg(atLeast)
      .arg(last)
      .arg(time(frame), time(last));
}

QString PlaybackControls::speedText(int speedQuarters) {
  if (speedQuarters == 1) return QStringLiteral("¼×");
  if (speedQuarters == 2) return QStringLiteral("½×");
  return QStringLiteral("%1×").arg(speedQuarters / PlaybackController::kNormalQuarters);
}

// The handle stays under the mouse while it is dragged.
void PlaybackControls::showPosition(qint64 frame, qint64 total, bool totalKnown) {
  position_->setText(positionText(frame, total, totalKnown));
  if (slider_->isSliderDown()) return;
  const QSignalBlocker quiet(slider_);
  slider_->setRange(0, int(std::max<qint64>(total - 1, 0)));
  slider_->setValue(int(frame));
}

void PlaybackControls::showState(bool paused, int speedQuarters) {
  pause_->setChecked(paused);
  state_->setText(paused ? tr("paused  %1").arg(speedText(speedQuarters)) : speedText(speedQuarters));
}

void PlaybackControls::followSlider(int value) {
  if (value != playback_.shownFrame()) playback_.goTo(value);
}
