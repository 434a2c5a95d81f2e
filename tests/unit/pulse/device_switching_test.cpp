#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "capture/black_hole_util.h"
#include "capture/device_switching.h"
#include "platform/linux/glib_main_thread.h"
#include "pulse_daemon.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

class CountingSwitching final : public DeviceSwitching {
 public:
  CountingSwitching(std::shared_ptr<MainThread> main, std::shared_ptr<AudioHardware> hw)
      : DeviceSwitching({}, main, std::move(hw)), main_(std::move(main)) {}
  void handleOutputDeviceChanged() override {
    ++calls;
    if (!main_->isMainThread()) ++offMainThread;
  }
  int calls = 0;
  int offMainThread = 0;

 private:
  std::shared_ptr<MainThread> main_;
};

class OutputObserver : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(daemon.start()) << daemon.log();
    host = daemon.connect();
    other = daemon.connect();  // another program on the same server
    AudioHardwareProvider::install(host);
    ASSERT_EQ(host->devices(ids), AudioStatus::ok);
    ASSERT_GE(ids.size(), 2u);  // Speakers, VerdalisRecorder
  }
  void TearDown() override {
    AudioHardwareProvider::install(nullptr);
    g_main_context_unref(context);
  }
  // Runs the main context until `calls` handler calls arrived (or the wait
  // gave up), then a little longer to catch any extra call.
  void runUntil(const CountingSwitching& observer, int calls,
                std::chrono::milliseconds wait = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (observer.calls < calls && std::chrono::steady_clock::now() < deadline) {
      g_main_context_iteration(context, FALSE);
      std::this_thread::sleep_for(5ms);
    }
    const auto settle = std::chrono::steady_clock::now() + 300ms;
    while (std::chrono::steady_clock::now() < settle) {
      g_main_context_iteration(context, FALSE);
      std::this_thread::sleep_for(5ms);
    }
  }

  test::PulseDaemon daemon;
  std::shared_ptr<PulseAudioHardware> host, other;
  std::vector<AudioDeviceId> ids;
  GMainContext* context = g_main_context_new();
  std::shared_ptr<GlibMainThread> main = std::make_shared<GlibMainThread>(context);
};

TEST_F(OutputObserver, EachOutsideChangeIsReportedOnceOnTheMainThread) {
  // The host's own switch happens before observing starts, and its switch back
  // after it stops: neither may be reported.
  ASSERT_TRUE(BlackHoleUtil::setOutputDeviceToBlackHole());
  auto observer = std::make_shared<CountingSwitching>(main, host);
  observer->startObservingOutputDeviceChange();

  ASSERT_EQ(other->setDefaultOutputDevice(ids[0]), AudioStatus::ok);
  runUntil(*observer, 1);
  EXPECT_EQ(observer->calls, 1);
  // Setting the same device again is no change.
  ASSERT_EQ(other->setDefaultOutputDevice(ids[0]), AudioStatus::ok);
  ASSERT_EQ(other->setDefaultOutputDevice(ids[1]), AudioStatus::ok);
  runUntil(*observer, 2);
  EXPECT_EQ(observer->calls, 2);

  observer->stopObservingOutputDeviceChange();
  ASSERT_EQ(host->setDefaultOutputDevice(ids[0]), AudioStatus::ok);
  runUntil(*observer, 3, 1s);
  EXPECT_EQ(observer->calls, 2);
  EXPECT_EQ(observer->offMainThread, 0);
}

TEST_F(OutputObserver, ObserverOnADeadServerRegistersNothingAndDoesNotCrash) {
  daemon.stop();
  auto observer = std::make_shared<CountingSwitching>(main, host);
  observer->startObservingOutputDeviceChange();
  observer->stopObservingOutputDeviceChange();
  runUntil(*observer, 1, 1s);
  EXPECT_EQ(observer->calls, 0);
}

}  // namespace
}  // namespace quillon
