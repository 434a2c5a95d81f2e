#include <gtest/gtest.h>

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

TEST(OutputObserver, EachOutsideChangeIsReportedOnceOnTheMainThread) {
  test::PulseDaemon daemon;
  ASSERT_TRUE(daemon.start()) << daemon.log();
  auto host = daemon.connect();
  auto other = daemon.connect();  // another program on the same server
  AudioHardwareProvider::install(host);
  const AudioDeviceId speakers = test::idOf(*host, "Speakers");
  GMainContext* context = g_main_context_new();
  auto main = std::make_shared<GlibMainThread>(context);
  // Runs the main context until `calls` handler calls arrived (or the wait
  // gave up), then a little longer to catch any extra call.
  auto runUntil = [&](const CountingSwitching& observer, int calls, std::chrono::milliseconds wait = 20s) {
    test::waitFor([&] { return g_main_context_iteration(context, FALSE), observer.calls >= calls; }, wait);
    test::waitFor([&] { return g_main_context_iteration(context, FALSE), false; }, 300ms);
  };

  // The host's own switch happens before observing starts, and its switch back
  // after it stops: neither may be reported.
  ASSERT_TRUE(BlackHoleUtil::setOutputDeviceToBlackHole());
  auto observer = std::make_shared<CountingSwitching>(main, host);
  observer->startObservingOutputDeviceChange();
  ASSERT_EQ(other->setDefaultOutputDevice(speakers), AudioStatus::ok);
  runUntil(*observer, 1);
  EXPECT_EQ(observer->calls, 1);
  // Setting the same device again is no change.
  ASSERT_EQ(other->setDefaultOutputDevice(speakers), AudioStatus::ok);
  ASSERT_EQ(other->setDefaultOutputDevice(test::idOf(*other, "VerdalisRecorder")), AudioStatus::ok);
  runUntil(*observer, 2);
  EXPECT_EQ(observer->calls, 2);
  observer->stopObservingOutputDeviceChange();
  ASSERT_EQ(host->setDefaultOutputDevice(speakers), AudioStatus::ok);
  runUntil(*observer, 3, 1s);
  EXPECT_EQ(observer->calls, 2);
  EXPECT_EQ(observer->offMainThread, 0);

  // On a dead server nothing is registered and nothing crashes.
  daemon.stop();
  auto late = std::make_shared<CountingSwitching>(main, host);
  late->startObservingOutputDeviceChange();
  late->stopObservingOutputDeviceChange();
  runUntil(*late, 1, 1s);
  EXPECT_EQ(late->calls, 0);

  AudioHardwareProvider::install(nullptr);
  observer.reset();
  late.reset();
  main.reset();
  g_main_context_unref(context);
}

}  // namespace
}  // namespace quillon
