#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "channel_test_support.h"
#include "fakes/fake_serial_tree.h"
#include "platform/linux/sysfs_serial_port_registry.h"
#include "support/test_support.h"
#include "usb/ffi_surface.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

EncodableValue pathArgs(const std::string& path) {
  return EncodableMap{{EncodableValue("path"), EncodableValue(path)}};
}

std::vector<std::pair<std::string, bool>> deviceChanges(const test::FakeMessenger& messenger) {
  std::vector<std::pair<std::string, bool>> changes;
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
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (deviceChanges(messenger).size() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

TEST(UsbChannelMonitor, ReportsPresentPortsThenArrivalsAndRemovalsToTheEngine) {
  test::TempDir dir;
  test::FakeSerialTree tree(dir.path());
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  auto registry = std::make_shared<SysfsSerialPortRegistry>(tree.sysRoot(), tree.devRoot());
  test::WindowFixture fixture(registry);

  auto reply = fixture.messenger.call("native_usb_factory", "startUsbChangedMonitor");
  ASSERT_TRUE(reply && std::holds_alternative<MethodSuccess>(*reply));
  ASSERT_TRUE(waitForChanges(fixture.messenger, 1));

  tree.addAcmPort("ttyACM1", "1a86", "7524");
  ASSERT_TRUE(waitForChanges(fixture.messenger, 2));
  tree.removePort("ttyACM0");
  ASSERT_TRUE(waitForChanges(fixture.messenger, 3));
  EXPECT_EQ(deviceChanges(fixture.messenger),
            (std::vector<std::pair<std::string, bool>>{
                {tree.devicePath("ttyACM0"), true}, {tree.devicePath("ttyACM1"), true}, {tree.devicePath("ttyACM0"), false}}));

  reply = fixture.messenger.call("native_usb_factory", "stopUsbChangedMonitor");
  ASSERT_TRUE(reply && std::holds_alternative<MethodSuccess>(*reply));
  // After the stop the watcher thread is gone: a change finds nobody to report it.
  tree.removePort("ttyACM1");
  reply = fixture.messenger.call("native_usb_factory", "startUsbChangedMonitor");
  ASSERT_TRUE(waitForChanges(fixture.messenger, 3));
  fixture.messenger.call("native_usb_factory", "stopUsbChangedMonitor");
  const auto changes = deviceChanges(fixture.messenger);
  EXPECT_EQ(changes.size(), 3u) << "the removal after the stop must not be reported";
}

TEST(UsbChannelMonitor, TheChannelAndTheCFunctionsKeepSeparatePorts) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string path = ptsname(master);
  test::WindowFixture fixture;

  auto opened = fixture.messenger.call("native_usb_factory", "open", pathArgs(path));
  ASSERT_TRUE(opened && std::get<MethodSuccess>(*opened).value == EncodableValue(true));
  char* status = ffi_send_usb_hex_data(path.c_str(), "AA");
  EXPECT_STREQ(status, "REAL_PORT_NOT_OPEN");
  ffi_free_string(status);

  ASSERT_TRUE(ffi_open_usb(path.c_str()));
  fixture.messenger.call("native_usb_factory", "close", pathArgs(path));
  status = ffi_send_usb_hex_data(path.c_str(), "AB");
  EXPECT_STREQ(status, "REAL_SUCCESS") << "closing the channel's port must not close the C surface's";
  ffi_free_string(status);
  ffi_close_usb(path.c_str());
  ::close(master);
}

}  // namespace
}  // namespace quillon
