#include <gtest/gtest.h>

#include "app/status_monitor.h"
#include "app/status_texts.h"
#include "fakes/fake_serial_tree.h"
#include "platform/linux/glib_main_thread.h"
#include "platform/linux/sysfs_serial_port_registry.h"
#include "recording/native_audio_factory.h"
#include "recording/source_levels.h"
#include "support/test_support.h"

// The page as shown, with the title, the start notice, the levels and ports
// arriving with their identifiers, is checked end to end (integration.test_window).
namespace quillon {
namespace {

using namespace std::chrono_literals;

TEST(StatusTexts, ElapsedLevelsPlainPortsAndTheStopNotice) {
  EXPECT_EQ(elapsedText(0ms), "0:00");
  EXPECT_EQ(elapsedText(59'999ms), "0:59");
  EXPECT_EQ(elapsedText(754'000ms), "12:34");
  EXPECT_EQ(elapsedText(3'723'000ms), "1:02:03");
  EXPECT_EQ(levelFraction(0.0f), 0.0);
  EXPECT_EQ(levelFraction(0.0005f), 0.0);        // below -60 dBFS
  EXPECT_NEAR(levelFraction(0.5f), 0.9, 0.001);  // -6 dBFS
  EXPECT_EQ(levelFraction(4.0f), 1.0);
  EXPECT_EQ(portText({"/dev/ttyS0", std::nullopt, false}), "/dev/ttyS0");

  HostStatus idle, running;
  running.recording = true;
  running.folder = "/rec";
  running.elapsed = 65'000ms;
  EXPECT_FALSE(recordingNotice("Quillon", running, running));
  EXPECT_EQ(recordingNotice("Quillon", running, idle)->body, "Recorded 1:05 into /rec");
}

struct MonitorFixture {
  NativeAudioFactory recorder{"", false, {{}, [] { return true; }, {}}};
  StatusMonitor::Clock::time_point now{};
  GlibMainThread mainThread;
  std::unique_ptr<StatusMonitor> monitor;

  explicit MonitorFixture(std::shared_ptr<SerialPortRegistry> ports = nullptr) {
    StatusMonitor::Sources sources;
    sources.engineConnected = [] { return true; };
    sources.recorder = [this] { return &recorder; };
    sources.serialPorts = std::move(ports);
    sources.now = [this] { return now; };
    monitor = std::make_unique<StatusMonitor>(std::move(sources), mainThread);
  }
};

TEST(StatusMonitor, ElapsedTimeLeavesOutPausesAndLevelsFallBackOnceBlocksStop) {
  MonitorFixture f;
  sourceLevels().microphone = 0.8f;
  EXPECT_EQ(f.monitor->sample().microphoneLevel, 0.0f);  // left over from no recording

  f.recorder.isRecording = true;
  f.recorder.isMicRecordingEnabled = true;
  EXPECT_EQ(f.monitor->sample().elapsed, 0ms);
  f.now += 5s;
  sourceLevels().microphone = 0.5f;
  sourceLevels().systemAudio = 0.25f;
  HostStatus status = f.monitor->sample();
  EXPECT_EQ(status.elapsed, 5000ms);
  EXPECT_EQ(status.microphoneLevel, 0.5f);
  EXPECT_EQ(status.systemAudioLevel, 0.25f);
  status = f.monitor->sample();  // no block since: falling, not gone
  EXPECT_GT(status.microphoneLevel, 0.0f);
  EXPECT_LT(status.microphoneLevel, 0.5f);

  f.recorder.isPaused = true;
  f.monitor->sample();
  f.now += 3s;
  EXPECT_EQ(f.monitor->sample().elapsed, 5000ms);
  f.recorder.isPaused = false;
  f.monitor->sample();
  f.now += 2s;
  f.recorder.isMicRecordingEnabled = false;
  sourceLevels().microphone = 0.9f;
  status = f.monitor->sample();
  EXPECT_EQ(status.elapsed, 7000ms);
  EXPECT_EQ(status.microphoneLevel, 0.0f);

  f.recorder.isRecording = false;
  f.monitor->sample();
  f.recorder.isRecording = true;
  f.now += 1s;
  EXPECT_EQ(f.monitor->sample().elapsed, 0ms);  // a new recording counts from its start
}

TEST(StatusMonitor, APortThatGoesLeavesThePage) {
  test::TempDir dir;
  test::FakeSerialTree tree(dir.path());
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  MonitorFixture f(std::make_shared<SysfsSerialPortRegistry>(tree.sysRoot(), tree.devRoot()));
  auto portCountBecomes = [&](size_t count) {
    for (auto deadline = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < deadline;) {
      while (g_main_context_iteration(nullptr, FALSE)) continue;
      if (f.monitor->sample().ports.size() == count) return true;
      g_usleep(10'000);
    }
    return false;
  };
  ASSERT_TRUE(portCountBecomes(1));
  tree.removePort("ttyACM0");
  EXPECT_TRUE(portCountBecomes(0));
}

}  // namespace
}  // namespace quillon
