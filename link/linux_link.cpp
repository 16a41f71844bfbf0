#include "linux_link.h"

#include "d2xx_library.h"
#include "d2xx_link.h"
#include "ftdi_link.h"

namespace {

// A D2xxLink together with the library its table points into, which must stay loaded until the
// link has closed the device.
class LoadedD2xxLink final : public DeviceLink {
 public:
  explicit LoadedD2xxLink(std::unique_ptr<D2xxLibrary> library)
      : library_(std::move(library)), link_(library_->functions()) {}

  OpenResult open(uint32_t readSize) override { return link_.open(readSize); }
  void reopen(uint32_t readSize) override { link_.reopen(readSize); }
  void close() override { link_.close(); }
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override {
    return link_.read(buffer, count, received);
  }

 private:
  std::unique_ptr<D2xxLibrary> library_;  // declared first, so destroyed after link_
  D2xxLink link_;
};

}  // namespace

const char* linuxBackendName(LinuxBackend backend) {
  return backend == LinuxBackend::VendorD2xx ? "D2XX (libftd2xx.so)" : "libftdi1";
}

std::unique_ptr<DeviceLink> makeLinuxLink(Clock& clock, LinuxBackend* chosen) {
  auto library = std::make_unique<D2xxLibrary>();
  const bool vendorLibrary = library->load() == D2xxLibrary::LoadResult::Loaded;
  if (chosen != nullptr) *chosen = vendorLibrary ? LinuxBackend::VendorD2xx : LinuxBackend::Libftdi;
  if (vendorLibrary) return std::make_unique<LoadedD2xxLink>(std::move(library));
  return std::make_unique<FtdiLink>(clock);
}
