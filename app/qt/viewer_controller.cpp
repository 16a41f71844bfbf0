#include "viewer_controller.h"

#include <QSocketNotifier>
#include <QTimer>
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
      source_(live_),
      viewer_(source_, clock),
      arrivals_(new QSocketNotifier(live_.wakeDescriptor(), QSocketNotifier::Read, this)),
      filePace_(new QTimer(this)) {
  // Frames that waited behind a dialog or a message come back to back: the figure of one
  // interval would show them as a burst.
  viewer_.setTitleRate(FrameStats::Rate::GroupMean);
  arrivals_->setEnabled(false);
  connect(arrivals_, &QSocketNotifier::activated, this, &ViewerController::decodeWaiting);
  // A coarse timer may stretch the period by 5 %, which would cost frames at 60 a second.
  filePace_->setTimerType(Qt::PreciseTimer);
  filePace_->setInterval(kFilePeriodMs);
  connect(filePace_, &QTimer::timeout, this, &ViewerController::decodeFileFrame);
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
  arrivals_->setEnabled(running_ && source_.playsDevice());
  if (running_ && !source_.playsDevice())
    filePace_->start();
  else
    filePace_->stop();
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

void ViewerController::decodeFileFrame() {
  const TickResult result = viewer_.tick(settings_.pictureMode());
  trace(result == TickResult::FrameShown || result == TickResult::NewTitle ? 1 : 0);
  switch (result) {
    case TickResult::DeviceFailed:
      return failDevice();
    case TickResult::NoFrame:
      return;
    case TickResult::NewTitle:
      emit titleChanged(QString::fromLatin1(viewer_.title()));
      [[fallthrough]];
    case TickResult::FrameShown:
      emit frameShown();
      return;
  }
}

void ViewerController::failDevice() {
  if (waitForDevice_ && source_.playsDevice()) return waitForDevice();
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

void ViewerController::playFile(std::unique_ptr<DeviceLink> file) {
  endWaiting();
  if (recording_.isRecording()) {
    recordingWatched_ = false;
    const bool whole = recording_.stopRecording();
    emit recordingEnded(RecordingEnd::ForStreamFile, whole ? 0 : recording_.failure());
  }
  viewer_.closeDevice();
  source_.select(std::move(file));
  viewer_.openDevice(settings_.bufsize);
  viewer_.restartStream();
  followSource();
}

OpenResult ViewerController::playDevice() {
  if (source_.playsDevice()) return OpenResult::Opened;
  std::unique_ptr<DeviceLink> file = source_.select(nullptr);
  const OpenResult opened = viewer_.openDevice(settings_.bufsize);
  if (opened != OpenResult::Opened) {
    viewer_.closeDevice();
    source_.select(std::move(file));
    return opened;
  }
  viewer_.restartStream();
  followSource();
  endWaiting();
  return opened;
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
