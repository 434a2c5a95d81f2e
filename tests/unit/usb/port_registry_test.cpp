#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "fakes/fake_serial_tree.h"
#include "platform/linux/sysfs_serial_port_registry.h"
#include "support/test_support.h"
#include "usb/usb_factory.h"
#include "unit/logging/day_log.h"

namespace quillon {
namespace {

using Paths = std::vector<std::string>;

class PortRegistry : public test::WithDayLog {
 protected:
  test::TempDir dir;
  test::FakeSerialTree tree{dir.path()};
  // Placeholder UARTs are recognised by name here, standing in for TIOCGSERIAL.
  std::shared_ptr<SysfsSerialPortRegistry> registry = std::make_shared<SysfsSerialPortRegistry>(
      tree.sysRoot(), tree.devRoot(),
      [](const std::string& path) { return path.ends_with("ttyS1"); });
  UsbFactory factory{registry};
  uint16_t vid = 0xAAAA;
  uint16_t pid = 0xBBBB;
};

TEST_F(PortRegistry, ListsTtysWithADeviceAndANodeButNoPlaceholderUarts) {
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  tree.addConverterPort("ttyUSB0", "0403", "6001");
  tree.addPlatformPort("ttyS0", "serial8250");
  tree.addPlatformPort("ttyS1", "serial8250");  // placeholder
  tree.addPlatformPort("ttyAMA0", "uart-pl011");
  tree.addVirtualTty("tty1");
  tree.addAcmPort("ttyACM1", "1a86", "7523", /*withNode=*/false);
  EXPECT_EQ(registry->presentPorts(),
            (Paths{tree.devicePath("ttyACM0"), tree.devicePath("ttyAMA0"),
                   tree.devicePath("ttyS0"), tree.devicePath("ttyUSB0")}));
}

// A slow watcher thread can list a port that then goes away before the watch
// reads the port's create event: its removal must still come.
TEST_F(PortRegistry, APortListedAndGoneBeforeTheWatchLooksIsStillReportedRemoved) {
  auto watch = registry->watchChanges();
  ASSERT_NE(watch, nullptr);
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  ASSERT_EQ(registry->presentPorts(), Paths{tree.devicePath("ttyACM0")});
  tree.removePort("ttyACM0");

  std::vector<SerialPortChange> changes;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (changes.empty() && std::chrono::steady_clock::now() < deadline) {
    changes = watch->waitForChanges(std::chrono::milliseconds(500));
  }
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].path, tree.devicePath("ttyACM0"));
  EXPECT_FALSE(changes[0].added);
}

TEST_F(PortRegistry, IdentifiersComeFromTheUsbDeviceAboveInterfaceOrConverter) {
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  tree.addConverterPort("ttyUSB0", "0403", "6001");
  tree.addAcmPort("ttyACM1", "12345", "fffff");  // too wide: the low 16 bits count
  const std::vector<std::tuple<std::string, uint16_t, uint16_t>> expected = {
      {"ttyACM0", 0x1a86, 0x7523}, {"ttyUSB0", 0x0403, 0x6001}, {"ttyACM1", 0x2345, 0xFFFF}};
  for (const auto& [name, wantVid, wantPid] : expected) {
    ASSERT_TRUE(factory.getVidPid(tree.devicePath(name).c_str(), &vid, &pid)) << name;
    EXPECT_EQ(vid, wantVid);
    EXPECT_EQ(pid, wantPid);
  }
  EXPECT_EQ(countInLog("[INFO] [getVidPid] -> Successfully parsed VID: 1027, PID: 24577"), 1u);
  EXPECT_EQ(countInLog("Successfully parsed VID: 9029, PID: 65535"), 1u);
}

TEST_F(PortRegistry, PathsThatAreNotExactlyAPortLeaveIdentifiersAlone) {
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  tree.addPlatformPort("ttyS0", "serial8250");
  std::filesystem::create_directories(tree.devRoot() / "serial" / "by-id");
  std::filesystem::create_symlink(tree.devicePath("ttyACM0"),
                                  tree.devRoot() / "serial" / "by-id" / "usb-recorder");
  const std::string aliases[] = {(tree.devRoot() / "serial" / "by-id" / "usb-recorder").string(),
                                 tree.devicePath("ttyACM0") + "/", tree.devicePath("ttyACM7"),
                                 "/dev/ttyACM0"};
  for (const auto& path : aliases) EXPECT_FALSE(factory.getVidPid(path.c_str(), &vid, &pid)) << path;
  // A port without a USB device above it.
  EXPECT_FALSE(factory.getVidPid(tree.devicePath("ttyS0").c_str(), &vid, &pid));
  EXPECT_EQ(vid, 0xAAAA);
  EXPECT_EQ(pid, 0xBBBB);

  const std::string last =
      "[INFO] [getVidPid] -> Loop finished, device with specified path not found or VID/PID missing.";
  EXPECT_EQ(countInLog(last), 5u);
  EXPECT_EQ(countInLog("[WARNING] [getVidPid] -> Matched path, but failed to get VID/PID"), 1u);
}

TEST_F(PortRegistry, NullArgumentsAreRefusedAfterTheSearchLine) {
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  EXPECT_FALSE(factory.getVidPid(tree.devicePath("ttyACM0").c_str(), nullptr, &pid));
  EXPECT_FALSE(factory.getVidPid(nullptr, &vid, &pid));
  EXPECT_EQ(pid, 0xBBBB);
  const std::string log = logText();
  EXPECT_NE(log.find("[getVidPid] Searching for path: (null)\n"), std::string::npos);
  EXPECT_EQ(countInLog("[ERROR] [getVidPid] Error: Input path, vid, or pid is null."), 2u);
}

}  // namespace
}  // namespace quillon
