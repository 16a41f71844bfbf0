// The Linux link over the simulated device's libftd2xx.so, found on LD_LIBRARY_PATH as the
// vendor's library would be: the device list, opening by serial number, and the polling watch
// seeing the device go and come back.
#include <gtest/gtest.h>
#include <poll.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "linux_link.h"

namespace {

bool readableWithin(const DeviceWatch& watch, int milliseconds) {
  pollfd ready{watch.descriptor(), POLLIN, 0};
  return poll(&ready, 1, milliseconds) == 1;
}

TEST(LinuxLinkTest, ListsTheDeviceOpensItBySerialNumberAndWatchesItGoAndComeBack) {
  setenv("KESTRAVU_SIM_SERIAL", "KV000042", 1);
  unsetenv("KESTRAVU_SIM_ABSENT");
  SteadyClock clock;
  LinuxBackend backend = LinuxBackend::Libftdi;
  std::unique_ptr<LinuxLink> link = makeLinuxLink(clock, &backend);
  ASSERT_EQ(backend, LinuxBackend::VendorD2xx);
  EXPECT_EQ(link->attachedSerials(), std::vector<std::string>{"KV000042"});

  link->chooseSerial("KV000043");
  EXPECT_EQ(link->open(32), OpenResult::DeviceNotFound);
  link->chooseSerial("KV000042");
  ASSERT_EQ(link->open(32), OpenResult::Opened);
  uint8_t bytes[32];
  uint32_t received = 0;
  EXPECT_EQ(link->read(bytes, sizeof bytes, received), ReadResult::BytesArrived);
  EXPECT_EQ(received, sizeof bytes);

  std::unique_ptr<DeviceWatch> watch = link->watchDevices();
  ASSERT_NE(watch, nullptr);
  ASSERT_TRUE(readableWithin(*watch, 2000));
  EXPECT_FALSE(watch->changed());
  setenv("KESTRAVU_SIM_ABSENT", "1", 1);
  ASSERT_TRUE(readableWithin(*watch, 2000));
  EXPECT_TRUE(watch->changed());
  EXPECT_TRUE(link->attachedSerials().empty());
  unsetenv("KESTRAVU_SIM_ABSENT");
  ASSERT_TRUE(readableWithin(*watch, 2000));
  EXPECT_TRUE(watch->changed());
  EXPECT_FALSE(readableWithin(*watch, 0)) << "changed() clears the descriptor";
}

}  // namespace
