#include "viewer_controller.h"

#include <QSocketNotifier>
#include <chrono>

namespace {

long long nowMicros() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::microseconds>(now).count();
}

}  // namespace

ViewerController::ViewerController(DeviceLink& device, Clock& clock, Settings& settings,
                                   QObject* parent)
    : QObject(parent),
      settings_(settings),
      recording_(device, clock),
      live_(recording_, clock),
      viewer_(live_, clock),
      arrivals_(new QSocketNotifier(live_.wakeDescriptor(), QSocketNotifier::Read, this)),
      playback_(new PlaybackController(viewer_, clock, settings, this)) {
  // Frames that waited behind a dialog or a message come back to back: the figure of one
  // interval would show them as a burst.
  viewer_.setTitleRate(FrameStats::Rate::GroupMean);
  arrivals_->setEnabled(false);
  connect(arrivals_, &QSocketNotifier::activated, this, &ViewerController::decodeWaiting);
  connect(playback_, &PlaybackController::frameShown, this, &ViewerController::frameShown);
  connect(playback_, &PlaybackController::titleChanged, this, &ViewerController::titleChanged);
  connect(playback_, &PlaybackController::ended, this, &ViewerController::endFile);
  if (const QByteArray path = qgetenv("KESTRAVU_TRACE"); !path.isEmpty())
    trace_ = std::fopen(path.constData(), "w");
}

// The notifier goes before the link closes the descriptor it watches.
ViewerController::~ViewerController() {
  delete arrivals_;
  if (trace_ != nullptr) std::fclose(trace_);
}

OpenResult ViewerController::openDevice() { return viewer_.openDevice(settings_.bufsize); }

void ViewerController::start() {
  running_ = true;
  followSource();
}

void ViewerController::stop() {
  running_ = false;
  followSource();
}

// Everything read from the device is recorded: the device closes first.
bool ViewerController::shutDown() {
  stop();
  recordingWatched_ = false;
  viewer_.closeDevice();
  return recording_.stopRecording();
}

// The device wakes the loop when frames arrive; a file is paced.
void ViewerController::followSource() {
  live_.setReading(running_);
  arrivals_->setEnabled(running_ && devicePlays_);
  playback_->setRunning(running_);
}

void ViewerController::decodeWaiting() {
  live_.clearWake();
  const LiveResult result = viewer_.decodeWaiting(settings_.pictureMode());
  trace(result.frames);
  checkRecording();
  if (result.newTitle) emit titleChanged(QString::fromLatin1(viewer_.title()));
  if (result.frames > 0) emit frameShown();
  if (result.failed) failDevice();
}

void ViewerController::failDevice() {
  if (waitForDevice_ && devicePlays_) return waitForDevice();
  stop();
  emit deviceFailed();
}

// A write or a push to the disk that failed stopped the recording by itself.
void ViewerController::checkRecording() {
  if (!recordingWatched_ || recording_.isRecording()) return;
  recordingWatched_ = false;
  recording_.stopRecording();  // lets the file go
  emit recordingEnded(RecordingEnd::Failed, recording_.failure());
}

StreamFilePlayer::LoadResult ViewerController::playFile(const QByteArray& path) {
  const StreamFilePlayer::LoadResult loaded = playback_->load(path);
  if (loaded != StreamFilePlayer::LoadResult::Loaded) return loaded;
  endWaiting();
  if (recording_.isRecording()) {
    recordingWatched_ = false;
    const bool whole = recording_.stopRecording();
    emit recordingEnded(RecordingEnd::ForStreamFile, whole ? 0 : recording_.failure());
  }
  viewer_.closeDevice();
  devicePlays_ = false;
  followSource();
  playback_->play();
  return loaded;
}

OpenResult ViewerController::playDevice() {
  if (devicePlays_) return OpenResult::Opened;
  const OpenResult opened = viewer_.openDevice(settings_.bufsize);
  if (opened != OpenResult::Opened) {
    viewer_.closeDevice();
    return opened;
  }
  playback_->unload();
  devicePlays_ = true;
  viewer_.restartStream();
  followSource();
  endWaiting();
  return opened;
}

// The player has let the file go.
void ViewerController::endFile(PlaybackController::End how, int error) {
  const bool deviceOpened = playDevice() == OpenResult::Opened;
  emit fileEnded(how, error, deviceOpened);
}

void ViewerController::redraw() {
  if (playback_->hasFile())
    playback_->showAgain();
  else
    viewer_.redraw(settings_.pictureMode());
}

void ViewerController::changeReadSize(int32_t readSize) {
  settings_.bufsize = readSize;
  viewer_.changeReadSize(readSize);
}

void ViewerController::startRecording(std::unique_ptr<RecordingSink> sink) {
  recording_.startRecording(std::move(sink));
  recordingWatched_ = true;
}

void ViewerController::stopRecording() {
  if (!recording_.isRecording()) return;
  recordingWatched_ = false;
  const bool whole = recording_.stopRecording();
  emit recordingEnded(RecordingEnd::Stopped, whole ? 0 : recording_.failure());
}

void ViewerController::trace(int frames) {
  if (trace_ == nullptr) return;
  std::fprintf(trace_, "decoded %lld %llu %d\n", nowMicros(),
               static_cast<unsigned long long>(viewer_.bytesDecoded()), frames);
  std::fflush(trace_);
}

void ViewerController::notePainted() {
  if (trace_ == nullptr) return;
  std::fprintf(trace_, "painted %lld %lld\n", nowMicros(),
               static_cast<long long>(live_.lastFrameArrivalMicros()));
  std::fflush(trace_);
}
