#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "channel_test_support.h"
#include "fakes/fake_serial_tree.h"
#include "platform/linux/sysfs_serial_port_registry.h"
#include "support/test_support.h"
#include "usb/ffi_surface.h"

namespace quillon {
namespace {

using Change = std::pair<std::string, bool>;

std::vector<Change> deviceChanges(const test::FakeMessenger& messenger) {
  std::vector<Change> changes;
  for (const auto& message : messenger.sent()) {
    if (message.channel != "native_usb_factory" || message.call.method != "onUsbDeviceChanged") continue;
    const auto* path = message.call.arguments.find("path");
    const auto* attached = message.call.arguments.find("attached");
    EXPECT_TRUE(path && path->asString() && attached && attached->asBool());
    if (path && path->asString() && attached && attached->asBool()) {
      changes.emplace_back(*path->asString(), *attached->asBool());
    }
  }
  return changes;
}

bool waitForChanges(const test::FakeMessenger& messenger, size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (deviceChanges(messenger).size() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TEST(UsbChannelMonitor, ReportsPresentPortsThenArrivalsAndRemovalsToTheEngine) {
  test::TempDir dir;
  test::FakeSerialTree tree(dir.path());
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  test::WindowFixture fixture(std::make_shared<SysfsSerialPortRegistry>(tree.sysRoot(), tree.devRoot()));
  auto& messenger = fixture.messenger;

  auto reply = messenger.call("native_usb_factory", "startUsbChangedMonitor");
  ASSERT_TRUE(reply && std::holds_alternative<MethodSuccess>(*reply));
  ASSERT_TRUE(waitForChanges(messenger, 1));
  tree.addAcmPort("ttyACM1", "1a86", "7524");
  ASSERT_TRUE(waitForChanges(messenger, 2));
  tree.removePort("ttyACM0");
  ASSERT_TRUE(waitForChanges(messenger, 3));

  // Only a monitor that really stopped reports the present ports again on a restart.
  reply = messenger.call("native_usb_factory", "stopUsbChangedMonitor");
  ASSERT_TRUE(reply && std::holds_alternative<MethodSuccess>(*reply));
  messenger.call("native_usb_factory", "startUsbChangedMonitor");
  ASSERT_TRUE(waitForChanges(messenger, 4));
  messenger.call("native_usb_factory", "stopUsbChangedMonitor");
  EXPECT_EQ(deviceChanges(messenger),
            (std::vector<Change>{{tree.devicePath("ttyACM0"), true},
                                 {tree.devicePath("ttyACM1"), true},
                                 {tree.devicePath("ttyACM0"), false},
                                 {tree.devicePath("ttyACM1"), true}}));
}

TEST(UsbChannelMonitor, TheChannelAndTheCFunctionsKeepSeparatePorts) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string path = ptsname(master);
  const EncodableValue pathArgs(EncodableMap{{"path", path}});
  test::WindowFixture fixture;

  auto opened = fixture.messenger.call("native_usb_factory", "open", pathArgs);
  ASSERT_TRUE(opened && std::get<MethodSuccess>(*opened).value == EncodableValue(true));
  char* status = ffi_send_usb_hex_data(path.c_str(), "AA");
  EXPECT_STREQ(status, "REAL_PORT_NOT_OPEN");
  ffi_free_string(status);

  ASSERT_TRUE(ffi_open_usb(path.c_str()));
  fixture.messenger.call("native_usb_factory", "close", pathArgs);
  status = ffi_send_usb_hex_data(path.c_str(), "AB");
  EXPECT_STREQ(status, "REAL_SUCCESS") << "closing the channel's port must not close the C surface's";
  ffi_free_string(status);
  ffi_close_usb(path.c_str());
  ::close(master);
}

}  // namespace
}  // namespace quillon
