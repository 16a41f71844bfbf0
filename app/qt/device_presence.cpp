#include "device_presence.h"

#include <QSocketNotifier>
#include <QTimer>

DevicePresence::DevicePresence(LinuxLink& link, QObject* parent)
    : QObject(parent),
      link_(link),
      watch_(link.watchDevices()),
      retry_(new QTimer(this)),
      lookAgain_(new QTimer(this)) {
  retry_->setSingleShot(true);
  retry_->setInterval(kRetryPeriodMs);
  connect(retry_, &QTimer::timeout, this, &DevicePresence::look);
  lookAgain_->setInterval(kLookPeriodMs);
  connect(lookAgain_, &QTimer::timeout, this, &DevicePresence::look);
  if (watch_ != nullptr) {
    news_ = new QSocketNotifier(watch_->descriptor(), QSocketNotifier::Read, this);
    connect(news_, &QSocketNotifier::activated, this, &DevicePresence::takeNews);
  }
  relist();
}

// The notifier goes before the watch closes the descriptor it watches.
DevicePresence::~DevicePresence() { delete news_; }

void DevicePresence::choose(const QString& serial) {
  chosen_ = serial;
  link_.chooseSerial(serial.toStdString());
}

void DevicePresence::setLooking(bool on) {
  looking_ = on;
  if (on) {
    lookAgain_->start();
    return;
  }
  retry_->stop();
  lookAgain_->stop();
}

void DevicePresence::retrySoon() {
  if (looking_ && retriesLeft_-- > 0) retry_->start();
}

void DevicePresence::takeNews() {
  if (watch_->changed()) lookNow();
}

void DevicePresence::lookNow() {
  retriesLeft_ = kRetries;
  look();
}

// A device just announced may not list yet: its strings cannot be read until it is set up.
void DevicePresence::look() {
  relist();
  if (!looking_) return;
  if (chosen_.isEmpty() ? !serials_.isEmpty() : serials_.contains(chosen_))
    emit wantedPresent();
  else
    retrySoon();
}

void DevicePresence::relist() {
  QStringList serials;
  for (const std::string& serial : link_.attachedSerials()) serials << QString::fromStdString(serial);
  if (serials == serials_) return;
  serials_ = serials;
  emit serialsChanged(serials_);
}
