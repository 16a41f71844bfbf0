// The KESTRAVU devices attached, as the viewer's loop sees them: the list by serial number, kept
// current from the link's device watch (its descriptor on a QSocketNotifier, the list taken
// again at each piece of news), and, while the loop waits for a device, word that the one it
// wants is there to be opened.
#pragma once
#include <QObject>
#include <QStringList>
#include <memory>

#include "device_watch.h"
#include "linux_link.h"

class QSocketNotifier;
class QTimer;

class DevicePresence final : public QObject {
  Q_OBJECT

 public:
  // A device that was just attached may refuse an open for a moment (its kernel driver binding,
  // udev setting its access): it is tried again this often, this many times.
  static constexpr int kRetryPeriodMs = 250;
  static constexpr int kRetries = 8;
  // While looking, the list is also taken this often: libusb's hotplug events come through udev,
  // which a container or a minimal system may not run, and no news must not mean no device.
  static constexpr int kLookPeriodMs = 1000;

  // `link` outlives the presence. Without a watch the list is taken once.
  explicit DevicePresence(LinuxLink& link, QObject* parent = nullptr);
  ~DevicePresence() override;

  const QStringList& serials() const { return serials_; }
  // The device the link opens from now on: the one with this serial number, or, when empty,
  // the first one.
  void choose(const QString& serial);
  const QString& chosen() const { return chosen_; }
  // While looking, each list that holds the wanted device emits wantedPresent().
  void setLooking(bool on);
  // The wanted device was not there or would not open: look again shortly, a few times.
  void retrySoon();
  // Takes the list now and, while looking, retries a few times as after news of the watch.
  void lookNow();

 signals:
  void serialsChanged(const QStringList& serials);
  void wantedPresent();

 private:
  void takeNews();
  void relist();
  void look();

  LinuxLink& link_;
  std::unique_ptr<DeviceWatch> watch_;
  QSocketNotifier* news_ = nullptr;
  QTimer* retry_;
  QTimer* lookAgain_;
  QStringList serials_;
  QString chosen_;
  bool looking_ = false;
  int retriesLeft_ = 0;
};
