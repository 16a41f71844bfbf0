#include "device_watch.h"

#include <libusb.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace {

constexpr int kFtdiVendor = 0x0403;
// How often the event thread looks whether it is to end.
constexpr long kEventWaitUs = 200000;

// Each event adds to an eventfd's count; reading it takes the count and clears readiness.
class HotplugWatch final : public DeviceWatch {
 public:
  ~HotplugWatch() override {
    if (thread_.joinable()) {
      ending_ = true;
      libusb_interrupt_event_handler(context_);
      thread_.join();
    }
    if (registered_) libusb_hotplug_deregister_callback(context_, handle_);
    if (context_ != nullptr) libusb_exit(context_);
    if (wakeUp_ >= 0) ::close(wakeUp_);
  }

  bool start() {
    wakeUp_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeUp_ < 0 || libusb_init(&context_) != 0) return false;
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) return false;
    const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
    registered_ = libusb_hotplug_register_callback(context_, events, LIBUSB_HOTPLUG_NO_FLAGS, kFtdiVendor,
                                                   LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, onEvent,
                                                   this, &handle_) == LIBUSB_SUCCESS;
    if (!registered_) return false;
    thread_ = std::thread([this] {
      while (!ending_) {
        timeval wait = {0, kEventWaitUs};
        if (libusb_handle_events_timeout_completed(context_, &wait, nullptr) < 0)
          std::this_thread::sleep_for(std::chrono::microseconds(kEventWaitUs));
      }
    });
    return true;
  }

  int descriptor() const override { return wakeUp_; }

  bool changed() override {
    uint64_t count = 0;
    return ::read(wakeUp_, &count, sizeof count) == sizeof count && count > 0;
  }

 private:
  static int LIBUSB_CALL onEvent(libusb_context*, libusb_device*, libusb_hotplug_event, void* watch) {
    const uint64_t one = 1;
    const ssize_t written = ::write(static_cast<HotplugWatch*>(watch)->wakeUp_, &one, sizeof one);
    static_cast<void>(written);  // a full counter already wakes the owner
    return 0;  // stay registered
  }

  int wakeUp_ = -1;
  libusb_context* context_ = nullptr;
  libusb_hotplug_callback_handle handle_ = 0;
  bool registered_ = false;
  std::atomic<bool> ending_{false};
  std::thread thread_;
};

class PollingWatch final : public DeviceWatch {
 public:
  explicit PollingWatch(SerialLister list) : list_(std::move(list)) {}
  ~PollingWatch() override {
    if (timer_ >= 0) ::close(timer_);
  }

  bool start(unsigned int periodMs) {
    timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer_ < 0) return false;
    const timespec period{static_cast<time_t>(periodMs / 1000), static_cast<long>(periodMs % 1000) * 1000000};
    const itimerspec setting{period, period};
    if (timerfd_settime(timer_, 0, &setting, nullptr) != 0) return false;
    last_ = list_();
    return true;
  }

  int descriptor() const override { return timer_; }

  bool changed() override {
    uint64_t expirations = 0;
    if (::read(timer_, &expirations, sizeof expirations) != sizeof expirations) return false;
    std::vector<std::string> now = list_();
    if (now == last_) return false;
    last_ = std::move(now);
    return true;
  }

 private:
  SerialLister list_;
  int timer_ = -1;
  std::vector<std::string> last_;
};

}  // namespace

std::unique_ptr<DeviceWatch> makeHotplugWatch() {
  auto watch = std::make_unique<HotplugWatch>();
  if (!watch->start()) return nullptr;
  return watch;
}

std::unique_ptr<DeviceWatch> makePollingWatch(SerialLister list, unsigned int periodMs) {
  auto watch = std::make_unique<PollingWatch>(std::move(list));
  if (!watch->start(periodMs)) return nullptr;
  return watch;
}
