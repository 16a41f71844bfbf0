#include "playback_controller.h"

#include <QTimer>
#include <algorithm>

PlaybackController::PlaybackController(Viewer& viewer, Clock& clock, const Settings& settings,
                                       QObject* parent)
    : QObject(parent), viewer_(viewer), clock_(clock), settings_(settings), pace_(new QTimer(this)) {
  // Each frame is played when it is due by the clock, so that the pace holds whatever the
  // timer's granularity; a coarse timer may be 5 % late.
  pace_->setTimerType(Qt::PreciseTimer);
  pace_->setSingleShot(true);
  connect(pace_, &QTimer::timeout, this, &PlaybackController::playOn);
}

PlaybackController::~PlaybackController() = default;

StreamFilePlayer::LoadResult PlaybackController::load(const QByteArray& path) {
  auto player = std::make_unique<StreamFilePlayer>(viewer_.decoder(), viewer_.picture());
  const StreamFilePlayer::LoadResult result = player->load(path.constData());
  loadError_ = player->loadError();
  if (result == StreamFilePlayer::LoadResult::Loaded) player_ = std::move(player);
  return result;
}

void PlaybackController::play() {
  if (player_ == nullptr) return;
  paused_ = false;
  speedQuarters_ = kNormalQuarters;
  show(player_->goTo(0, settings_.pictureMode()));
  restartPace();
}

void PlaybackController::unload() {
  player_.reset();
  followPace();
}

void PlaybackController::setRunning(bool running) {
  running_ = running;
  restartPace();
}

void PlaybackController::togglePause() { setPaused(!paused_); }

void PlaybackController::setPaused(bool paused) {
  paused_ = paused;
  restartPace();
}

void PlaybackController::stepForward() {
  setPaused(true);
  goTo(shownFrame() + 1);
}

void PlaybackController::stepBack() {
  setPaused(true);
  goTo(shownFrame() - 1);
}

void PlaybackController::jump(int64_t frames) { goTo(shownFrame() + frames); }

void PlaybackController::goToFirst() { goTo(0); }

void PlaybackController::goToLast() {
  if (player_ == nullptr) return;
  show(player_->goToEnd(settings_.pictureMode()));
  restartPace();
}

void PlaybackController::goTo(int64_t frame) {
  if (player_ == nullptr) return;
  show(player_->goTo(std::max<int64_t>(frame, 0), settings_.pictureMode()));
  restartPace();
}

void PlaybackController::slower() {
  speedQuarters_ = std::max(kSlowestQuarters, speedQuarters_ / 2);
  restartPace();
}

void PlaybackController::faster() {
  speedQuarters_ = std::min(kFastestQuarters, speedQuarters_ * 2);
  restartPace();
}

// A redraw starts Screen4's running colour from black, where a frame that restarted part-way
// carried it on: the frame is decoded again instead, by way of a neighbour, which the player
// reaches from a key frame.
void PlaybackController::showAgain() {
  const int64_t frame = shownFrame();
  if (frame < 0) return;
  const PictureMode mode = settings_.pictureMode();
  if (!show(player_->goTo(frame > 0 ? frame - 1 : frame + 1, mode))) return;
  if (player_->shownFrame() == frame) {  // a file of one frame
    viewer_.redraw(mode);
    emit frameShown();
    return;
  }
  show(player_->goTo(frame, mode));
}

int64_t PlaybackController::shownFrame() const {
  return player_ != nullptr ? player_->shownFrame() : -1;
}

// Each tick plays the frames due since the pace began, counted in the title's statistics; one
// paint shows the last.
void PlaybackController::playOn() {
  if (player_ == nullptr) return;
  const uint32_t elapsed = clock_.milliseconds() - paceStart_;
  const int64_t due = int64_t(elapsed) * kFramesPerSecond * speedQuarters_ / (1000 * kNormalQuarters);
  int64_t frames = due - framesPlayed_;
  if (frames <= 0) return followPace();
  if (frames > kMostFramesATick) {
    restartPace();
    frames = 1;
  }
  framesPlayed_ += frames;
  bool newTitle = false;
  for (int64_t frame = 0; frame < frames; ++frame) {
    const StreamFilePlayer::Result result = player_->next(settings_.pictureMode());
    if (result != StreamFilePlayer::Result::Shown) return void(show(result));
    newTitle = viewer_.countShownFrame(viewer_.decoder().lastCallBytes()) == TickResult::NewTitle ||
               newTitle;
  }
  if (newTitle) emit titleChanged(QString::fromLatin1(viewer_.title()));
  if (show(StreamFilePlayer::Result::Shown)) followPace();
}

// Frames due are counted from now.
void PlaybackController::restartPace() {
  paceStart_ = clock_.milliseconds();
  framesPlayed_ = 0;
  followPace();
  emit stateChanged(paused_, speedQuarters_);
}

// The timer fires when the next frame is due, in whole milliseconds rounded up.
void PlaybackController::followPace() {
  if (!running_ || player_ == nullptr || paused_) return pace_->stop();
  const int64_t perSecond = int64_t(kFramesPerSecond) * speedQuarters_;
  const int64_t dueAt = ((framesPlayed_ + 1) * 1000 * kNormalQuarters + perSecond - 1) / perSecond;
  const int64_t elapsed = clock_.milliseconds() - paceStart_;
  pace_->start(int(std::max<int64_t>(dueAt - elapsed, 0)));
}

// True when the frame was shown; otherwise the file is let go and ended() says why.
bool PlaybackController::show(StreamFilePlayer::Result result) {
  if (result == StreamFilePlayer::Result::Shown) {
    emit frameShown();
    emit positionChanged(player_->shownFrame(), player_->framesFound(), player_->totalKnown());
    return true;
  }
  const int error = player_->readError();
  unload();
  emit ended(result == StreamFilePlayer::Result::NoWholeFrame ? End::NoWholeFrame : End::ReadFailed,
             error);
  return false;
}
