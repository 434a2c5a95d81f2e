#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "fakes/fake_serial_tree.h"
#include "platform/linux/sysfs_serial_port_registry.h"
#include "usb/usb_factory.h"
#include "unit/logging/day_log.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Event = std::pair<std::string, bool>;

// Collects callback events from the watcher thread.
class EventLog {
 public:
  std::function<void(const std::string&, bool)> callback() {
    return [this](const std::string& path, bool added) {
      std::lock_guard lock(mutex_);
      events_.emplace_back(path, added);
      changed_.notify_all();
    };
  }
  bool waitFor(const Event& event) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return std::count(events_.begin(), events_.end(), event) > 0; });
  }
  size_t count(const Event& event) {
    const auto all = events();
    return static_cast<size_t>(std::count(all.begin(), all.end(), event));
  }
  std::vector<Event> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
};

class Watcher : public test::WithDayLog {
 protected:
  Event added(const std::string& name) { return {tree.devicePath(name), true}; }
  Event removed(const std::string& name) { return {tree.devicePath(name), false}; }

  test::TempDir dir;
  test::FakeSerialTree tree{dir.path()};
  std::shared_ptr<SerialPortRegistry> registry =
      std::make_shared<SysfsSerialPortRegistry>(tree.sysRoot(), tree.devRoot());
  EventLog log;
  UsbFactory factory{registry};
};

TEST_F(Watcher, ReportsPresentPortsThenEachArrivalAndRemovalOnce) {
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  tree.addConverterPort("ttyUSB0", "0403", "6001");
  tree.addVirtualTty("tty1");
  factory.startUsbChangedMonitor(log.callback());
  factory.startUsbChangedMonitor(log.callback());  // already watching: no second thread
  ASSERT_TRUE(log.waitFor(added("ttyUSB0")));

  tree.addAcmPort("ttyACM1", "1a86", "7523");
  ASSERT_TRUE(log.waitFor(added("ttyACM1")));
  tree.removePort("ttyACM0");
  ASSERT_TRUE(log.waitFor(removed("ttyACM0")));
  tree.addAcmPort("ttyACM2", "1a86", "7523", /*withNode=*/false);
  tree.createNode("ttyACM2");
  ASSERT_TRUE(log.waitFor(added("ttyACM2")));

  // Present ports come first, one call each, before any change.
  EXPECT_EQ(log.events(), (std::vector<Event>{added("ttyACM0"), added("ttyUSB0"), added("ttyACM1"),
                                              removed("ttyACM0"), added("ttyACM2")}));
  EXPECT_EQ(countInLog("[INFO] USB 设备已插入，路径: " + tree.devicePath("ttyACM1")), 1u);
  EXPECT_EQ(countInLog("[INFO] USB 设备已移除，路径: " + tree.devicePath("ttyACM0")), 1u);
}

TEST_F(Watcher, RestartReportsThePresentPortsAgainAndStopEndsReports) {
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  factory.startUsbChangedMonitor(log.callback());
  ASSERT_TRUE(log.waitFor(added("ttyACM0")));
  factory.stopUsbChangedMonitor();
  EXPECT_FALSE(factory.watcher().isWatching());

  tree.addAcmPort("ttyACM1", "1a86", "7523");  // while stopped: not reported
  factory.stopUsbChangedMonitor();
  factory.watcher().startWatching();  // the stored callback is kept
  tree.addAcmPort("ttyACM2", "1a86", "7523");
  ASSERT_TRUE(log.waitFor(added("ttyACM2")));
  EXPECT_EQ(log.count(added("ttyACM0")), 2u);
  EXPECT_EQ(log.count(added("ttyACM1")), 1u);  // only as present at the restart
}

TEST_F(Watcher, WithoutCallbackChangesAreStillLogged) {
  factory.startUsbChangedMonitor(nullptr);
  tree.addAcmPort("ttyACM3", "1a86", "7523");
  const std::string line = "USB 设备已插入，路径: " + tree.devicePath("ttyACM3");
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (countInLog(line) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(countInLog(line), 1u);
}

TEST_F(Watcher, TwoFactoriesEachReceiveEveryChange) {
  EventLog otherLog;
  UsbFactory other{registry};
  factory.startUsbChangedMonitor(log.callback());
  other.startUsbChangedMonitor(otherLog.callback());
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  ASSERT_TRUE(log.waitFor(added("ttyACM0")));
  ASSERT_TRUE(otherLog.waitFor(added("ttyACM0")));
  tree.removePort("ttyACM0");
  ASSERT_TRUE(log.waitFor(removed("ttyACM0")));
  ASSERT_TRUE(otherLog.waitFor(removed("ttyACM0")));
  EXPECT_EQ(log.events().size(), 2u);
  EXPECT_EQ(otherLog.events().size(), 2u);
}

TEST_F(Watcher, StopFromInsideTheCallbackEndsWatchingWithoutDeadlock) {
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  tree.addAcmPort("ttyACM1", "1a86", "7523");
  std::atomic<int> calls{0};
  factory.startUsbChangedMonitor([&](const std::string&, bool) {
    ++calls;
    factory.stopUsbChangedMonitor();
  });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (factory.watcher().isWatching() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  factory.stopUsbChangedMonitor();  // joins the thread that stopped itself
  EXPECT_EQ(calls.load(), 1);        // the second present port came after the stop

  factory.startUsbChangedMonitor(log.callback());
  EXPECT_TRUE(log.waitFor(added("ttyACM1")));
}

TEST_F(Watcher, StopWaitsForTheCallbackInProgress) {
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  std::atomic<bool> entered{false};
  std::atomic<bool> left{false};
  factory.startUsbChangedMonitor([&](const std::string&, bool) {
    entered = true;
    std::this_thread::sleep_for(200ms);
    left = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!entered && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(entered);
  factory.stopUsbChangedMonitor();
  EXPECT_TRUE(left);
}

}  // namespace
}  // namespace quillon
