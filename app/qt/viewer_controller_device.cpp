// The controller's device part: the devices attached, the choice between them, and waiting for
// the device.
#include "device_presence.h"
#include "viewer_controller.h"

void ViewerController::watchDevices(LinuxLink& link, const QString& serial) {
  presence_ = new DevicePresence(link, this);
  presence_->choose(serial);
  connect(presence_, &DevicePresence::serialsChanged, this, &ViewerController::devicesChanged);
  connect(presence_, &DevicePresence::wantedPresent, this, &ViewerController::takeWantedDevice);
}

QStringList ViewerController::attachedDevices() const {
  return presence_ != nullptr ? presence_->serials() : QStringList();
}

QString ViewerController::chosenDevice() const {
  return presence_ != nullptr ? presence_->chosen() : QString();
}

void ViewerController::setWaitForDevice(bool on) {
  waitForDevice_ = on;
  if (on || !waiting_) return;
  endWaiting();
  stop();
  emit deviceFailed();
}

// Silence leaves the device attached: it is opened again only once it has been replugged, or
// another has come, so that the last picture stays meanwhile.
void ViewerController::waitForDevice() {
  if (waiting_) return;
  viewer_.closeDevice();
  waiting_ = true;
  if (presence_ != nullptr) presence_->setLooking(true);
  emit waitingChanged(true);
}

void ViewerController::endWaiting() {
  if (!waiting_) return;
  waiting_ = false;
  if (presence_ != nullptr) presence_->setLooking(false);
  emit waitingChanged(false);
}

// The stream starts afresh: delta frames after the gap build on cleared cells, as at start-up.
bool ViewerController::openChosenDevice() {
  if (viewer_.openDevice(settings_.bufsize) != OpenResult::Opened) {
    viewer_.closeDevice();
    return false;
  }
  viewer_.restartStream();
  followSource();
  return true;
}

void ViewerController::takeWantedDevice() {
  if (!waiting_ || !devicePlays_) return;
  if (openChosenDevice())
    endWaiting();
  else
    presence_->retrySoon();
}

void ViewerController::chooseDevice(const QString& serial) {
  if (presence_ == nullptr || serial == presence_->chosen()) return;
  const QString before = presence_->chosen();
  presence_->choose(serial);
  if (!devicePlays_) return;  // taken when the device plays again
  if (waiting_) return presence_->lookNow();
  viewer_.closeDevice();
  if (openChosenDevice()) return;
  if (waitForDevice_) {
    waitForDevice();
    return presence_->lookNow();
  }
  presence_->choose(before);
  if (!openChosenDevice()) failDevice();
}
