#include "linux_link.h"

#include <dlfcn.h>

#include "d2xx_devices.h"
#include "d2xx_library.h"
#include "d2xx_link.h"
#include "ftdi_link.h"

namespace {

constexpr unsigned int kPollPeriodMs = 500;

// The two functions of the device list, from the same libftd2xx.so (loaded again, so counted
// once more, and kept until the link goes); a library without them lists nothing.
class D2xxListLibrary {
 public:
  D2xxListLibrary() {
    module_ = dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr) return;
    functions_.createDeviceInfoList =
        reinterpret_cast<decltype(functions_.createDeviceInfoList)>(dlsym(module_, "FT_CreateDeviceInfoList"));
    functions_.getDeviceInfoDetail =
        reinterpret_cast<decltype(functions_.getDeviceInfoDetail)>(dlsym(module_, "FT_GetDeviceInfoDetail"));
  }
  ~D2xxListLibrary() {
    if (module_ != nullptr) dlclose(module_);
  }
  D2xxListLibrary(const D2xxListLibrary&) = delete;
  D2xxListLibrary& operator=(const D2xxListLibrary&) = delete;
  const D2xxListFunctions& functions() const { return functions_; }

 private:
  void* module_ = nullptr;
  D2xxListFunctions functions_;
};

// A D2xxLink together with the library its table points into, which must stay loaded until the
// link has closed the device.
class LoadedD2xxLink final : public LinuxLink {
 public:
  explicit LoadedD2xxLink(std::unique_ptr<D2xxLibrary> library)
      : library_(std::move(library)), link_(library_->functions()) {}

  OpenResult open(uint32_t readSize) override { return link_.open(readSize); }
  void reopen(uint32_t readSize) override { link_.reopen(readSize); }
  void close() override { link_.close(); }
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override {
    return link_.read(buffer, count, received);
  }

  std::vector<std::string> attachedSerials() override { return kestravuSerials(list_.functions()); }
  void chooseSerial(const std::string& serial) override { link_.chooseSerial(serial); }
  std::unique_ptr<DeviceWatch> watchDevices() override {
    return makePollingWatch([this] { return attachedSerials(); }, kPollPeriodMs);
  }
  LinuxBackend backend() const override { return LinuxBackend::VendorD2xx; }

 private:
  std::unique_ptr<D2xxLibrary> library_;  // declared first, so destroyed after link_
  D2xxListLibrary list_;
  D2xxLink link_;
};

class LibftdiLink final : public LinuxLink {
 public:
  explicit LibftdiLink(Clock& clock) : link_(clock) {}

  OpenResult open(uint32_t readSize) override { return link_.open(readSize); }
  void reopen(uint32_t readSize) override { link_.reopen(readSize); }
  void close() override { link_.close(); }
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override {
    return link_.read(buffer, count, received);
  }

  std::vector<std::string> attachedSerials() override { return link_.attachedSerials(); }
  void chooseSerial(const std::string& serial) override { link_.chooseSerial(serial); }
  std::unique_ptr<DeviceWatch> watchDevices() override {
    std::unique_ptr<DeviceWatch> watch = makeHotplugWatch();
    if (watch != nullptr) return watch;
    return makePollingWatch([this] { return attachedSerials(); }, kPollPeriodMs);
  }
  LinuxBackend backend() const override { return LinuxBackend::Libftdi; }

 private:
  FtdiLink link_;
};

}  // namespace

const char* linuxBackendName(LinuxBackend backend) {
  return backend == LinuxBackend::VendorD2xx ? "D2XX (libftd2xx.so)" : "libftdi1";
}

std::unique_ptr<LinuxLink> makeLinuxLink(Clock& clock, LinuxBackend* chosen) {
  auto library = std::make_unique<D2xxLibrary>();
  const bool vendorLibrary = library->load() == D2xxLibrary::LoadResult::Loaded;
  if (chosen != nullptr) *chosen = vendorLibrary ? LinuxBackend::VendorD2xx : LinuxBackend::Libftdi;
  if (vendorLibrary) return std::make_unique<LoadedD2xxLink>(std::move(library));
  return std::make_unique<LibftdiLink>(clock);
}
