#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <tuple>

#include "fakes/fake_serial_tree.h"
#include "platform/linux/sysfs_serial_port_registry.h"
#include "unit/logging/day_log.h"
#include "usb/usb_factory.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Event = std::pair<std::string, bool>;

// A sysfs and /dev of the test's making, and the events a watcher reported
// from its thread. Placeholder UARTs are recognised by name here, standing in
// for TIOCGSERIAL.
class SerialPorts : public test::WithDayLog {
 protected:
  std::vector<Event> events() {
    std::lock_guard lock(mutex);
    return reported;
  }
  void record(const std::string& path, bool added) {
    std::lock_guard lock(mutex);
    reported.emplace_back(path, added);
  }
  // Waits up to ten seconds for the event to have come exactly once.
  bool reportedOnce(const std::string& name, bool added) {
    const Event event{tree.devicePath(name), added};
    for (int i = 0; i < 2000 && std::ranges::count(events(), event) != 1; ++i) std::this_thread::sleep_for(5ms);
    return std::ranges::count(events(), event) == 1;
  }

  test::TempDir dir;
  test::FakeSerialTree tree{dir.path()};
  std::shared_ptr<SysfsSerialPortRegistry> registry = std::make_shared<SysfsSerialPortRegistry>(
      tree.sysRoot(), tree.devRoot(), [](const std::string& path) { return path.ends_with("ttyS1"); });
  UsbFactory factory{registry};
  std::mutex mutex;
  std::vector<Event> reported;
};
class PortRegistry : public SerialPorts {};
class Watcher : public SerialPorts {};

// Ports are ttys with a device, placeholder UARTs left out; the
// identifiers come from the USB device above the interface or converter.
TEST_F(PortRegistry, ListsRealPortsWithTheIdentifiersOfTheirUsbDeviceAndRefusesOtherPaths) {
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  tree.addConverterPort("ttyUSB0", "0403", "6001");
  tree.addPlatformPort("ttyS0", "serial8250");
  tree.addPlatformPort("ttyS1", "serial8250");  // placeholder
  tree.addVirtualTty("tty1");
  std::vector<std::string> listed;
  for (const char* name : {"ttyACM0", "ttyS0", "ttyUSB0"}) listed.push_back(tree.devicePath(name));
  EXPECT_EQ(registry->presentPorts(), listed);

  using Found = std::tuple<bool, uint16_t, uint16_t>;
  auto identifiers = [&](const std::string& path) {
    uint16_t vid = 0xAAAA;
    uint16_t pid = 0xBBBB;
    const bool found = factory.getVidPid(path.c_str(), &vid, &pid);
    return Found{found, vid, pid};
  };
  EXPECT_EQ(identifiers(tree.devicePath("ttyACM0")), (Found{true, 0x1a86, 0x7523}));
  EXPECT_EQ(identifiers(tree.devicePath("ttyUSB0")), (Found{true, 0x0403, 0x6001}));

  // Paths that are not exactly a port with a USB device leave the identifiers
  // alone; nulls are the C functions' test (integration.test_ffi).
  const std::string refused[] = {tree.devicePath("ttyACM0") + "/",
                                 tree.devicePath("ttyACM7"), "/dev/ttyACM0", tree.devicePath("ttyS0")};
  for (const auto& path : refused) EXPECT_EQ(identifiers(path), (Found{false, 0xAAAA, 0xBBBB})) << path;
}

// Present ports come first, one call each, then each change once; a
// watcher without a callback is the C functions' test (integration.test_ffi).
TEST_F(Watcher, ReportsPresentPortsThenEachArrivalAndRemovalOnce) {
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  tree.addConverterPort("ttyUSB0", "0403", "6001");
  factory.startUsbChangedMonitor([this](const std::string& path, bool added) { record(path, added); });
  ASSERT_TRUE(reportedOnce("ttyUSB0", true));
  tree.addAcmPort("ttyACM1", "1a86", "7523");
  ASSERT_TRUE(reportedOnce("ttyACM1", true));
  tree.removePort("ttyACM0");
  ASSERT_TRUE(reportedOnce("ttyACM0", false));
  tree.addAcmPort("ttyACM2", "1a86", "7523", /*withNode=*/false);
  tree.createNode("ttyACM2");
  ASSERT_TRUE(reportedOnce("ttyACM2", true));

  EXPECT_EQ(events(), (std::vector<Event>{{tree.devicePath("ttyACM0"), true}, {tree.devicePath("ttyUSB0"), true},
                                          {tree.devicePath("ttyACM1"), true}, {tree.devicePath("ttyACM0"), false},
                                          {tree.devicePath("ttyACM2"), true}}));
}

// A C caller may stop the watcher from inside its callback, and may free the
// callback's context as soon as a stop from outside returns.
TEST_F(Watcher, StopFromInsideTheCallbackEndsWatchingAndAStopFromOutsideWaitsForTheCallback) {
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  tree.addAcmPort("ttyACM1", "1a86", "7523");
  factory.startUsbChangedMonitor([&](const std::string& path, bool added) {
    factory.stopUsbChangedMonitor();
    record(path, added);
  });
  ASSERT_TRUE(reportedOnce("ttyACM0", true));
  factory.stopUsbChangedMonitor();  // joins the thread that stopped itself
  EXPECT_EQ(events().size(), 1u);   // the second present port came after the stop

  // The sleep widens the window in which a stop that does not wait returns early.
  std::atomic<bool> left{false};
  factory.startUsbChangedMonitor([&](const std::string& path, bool added) {
    left = false;
    record(path, added);
    std::this_thread::sleep_for(200ms);
    left = true;
  });
  ASSERT_TRUE(reportedOnce("ttyACM1", true));
  factory.stopUsbChangedMonitor();
  EXPECT_TRUE(left);
}

}  // namespace
}  // namespace quillon
