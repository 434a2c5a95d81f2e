#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "channel_test_support.h"
#include "fakes/fake_serial_tree.h"
#include "platform/linux/sysfs_serial_port_registry.h"
#include "support/test_support.h"
#include "usb/ffi_surface.h"

// The channel's serial commands on a device are checked end to end
// (integration.test_host_spine); these are its watcher, its own table of open
// ports and its default exchange window.
namespace quillon {
namespace {

using test::map;
using test::successValue;
using Change = std::pair<std::string, bool>;

constexpr const char* kUsb = "native_usb_factory";

std::vector<Change> deviceChanges(const test::FakeMessenger& messenger) {
  std::vector<Change> changes;
  for (const auto& message : messenger.sent()) {
    EXPECT_EQ(message.channel + "." + message.call.method, "native_usb_factory.onUsbDeviceChanged");
    const auto* path = message.call.arguments.find("path");
    const auto* attached = message.call.arguments.find("attached");
    const bool wellFormed = path && path->asString() && attached && attached->asBool();
    EXPECT_TRUE(wellFormed) << testing::PrintToString(message.call.arguments);
    if (wellFormed) changes.emplace_back(*path->asString(), *attached->asBool());
  }
  return changes;
}

TEST(UsbChannelMonitor, ReportsPresentPortsThenArrivalsAndRemovalsToTheEngine) {
  test::TempDir dir;
  test::FakeSerialTree tree(dir.path());
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  test::WindowFixture fixture(std::make_shared<SysfsSerialPortRegistry>(tree.sysRoot(), tree.devRoot()));
  auto& messenger = fixture.messenger;
  auto changesReach = [&](size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (deviceChanges(messenger).size() < count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return deviceChanges(messenger).size() == count;
  };

  EXPECT_TRUE(successValue(messenger.call(kUsb, "startUsbChangedMonitor")).isNull());
  ASSERT_TRUE(changesReach(1));
  tree.addAcmPort("ttyACM1", "1a86", "7524");
  ASSERT_TRUE(changesReach(2));
  tree.removePort("ttyACM0");
  ASSERT_TRUE(changesReach(3));
  // Only a monitor that really stopped reports the present ports again on a restart.
  EXPECT_TRUE(successValue(messenger.call(kUsb, "stopUsbChangedMonitor")).isNull());
  messenger.call(kUsb, "startUsbChangedMonitor");
  ASSERT_TRUE(changesReach(4));
  messenger.call(kUsb, "stopUsbChangedMonitor");
  EXPECT_EQ(deviceChanges(messenger), (std::vector<Change>{{tree.devicePath("ttyACM0"), true},
                                                           {tree.devicePath("ttyACM1"), true},
                                                           {tree.devicePath("ttyACM0"), false},
                                                           {tree.devicePath("ttyACM1"), true}}));
}

TEST(UsbChannelPorts, TheExchangeWindowDefaultsTo500MsAndTheCFunctionsKeepTheirOwnPorts) {
  const int device = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(device, 0);
  ASSERT_EQ(grantpt(device), 0);
  ASSERT_EQ(unlockpt(device), 0);
  const std::string path = ptsname(device);
  test::WindowFixture fixture;

  // The device answers the command at once; without a "timeout" the exchange
  // still collects for 50 passes of 10 ms.
  std::thread answering([device] {
    uint8_t command[2];
    for (size_t got = 0; got < sizeof command;) {
      pollfd entry{device, POLLIN, 0};
      const ssize_t n = poll(&entry, 1, 20'000) > 0 ? read(device, command + got, sizeof command - got) : -1;
      if (n <= 0) return;
      got += static_cast<size_t>(n);
    }
    const uint8_t answer = 0xAB;
    EXPECT_EQ(write(device, &answer, 1), 1);
  });
  const auto start = std::chrono::steady_clock::now();
  const auto reply = fixture.messenger.call(kUsb, "sendUsbHexDataAndClose", map({{"path", path}, {"data", "C0DE"}}));
  const auto took = std::chrono::steady_clock::now() - start;
  answering.join();
  EXPECT_EQ(successValue(reply), EncodableValue("AB"));
  EXPECT_GE(took, std::chrono::milliseconds(490));

  EXPECT_EQ(successValue(fixture.messenger.call(kUsb, "open", map({{"path", path}}))), EncodableValue(true));
  char* status = ffi_send_usb_hex_data(path.c_str(), "AA");
  EXPECT_STREQ(status, "REAL_PORT_NOT_OPEN");
  ffi_free_string(status);
  ASSERT_TRUE(ffi_open_usb(path.c_str()));
  fixture.messenger.call(kUsb, "close", map({{"path", path}}));
  status = ffi_send_usb_hex_data(path.c_str(), "AB");
  EXPECT_STREQ(status, "REAL_SUCCESS") << "closing the channel's port must not close the C surface's";
  ffi_free_string(status);
  ffi_close_usb(path.c_str());
  ::close(device);
}

}  // namespace
}  // namespace quillon
