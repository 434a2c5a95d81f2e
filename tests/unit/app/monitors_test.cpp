#include <gtest/gtest.h>

#include <deque>

#include "app/application_monitor.h"
#include "app/proc_self_probe.h"
#include "app/status_monitor.h"
#include "app/status_texts.h"
#include "platform/linux/glib_main_thread.h"
#include "recording/native_audio_factory.h"
#include "support/test_support.h"

// The status page as shown is checked end to end (integration.test_window).
namespace quillon {
namespace {

using namespace std::chrono_literals;

TEST(StatusTexts, ElapsedLevelsAndTheStopNotice) {
  EXPECT_EQ(elapsedText(59'999ms), "0:59");
  EXPECT_EQ(elapsedText(3'723'000ms), "1:02:03");
  EXPECT_EQ(levelFraction(0.0005f), 0.0);        // below -60 dBFS
  EXPECT_NEAR(levelFraction(0.5f), 0.9, 0.001);  // -6 dBFS
  EXPECT_EQ(levelFraction(4.0f), 1.0);

  HostStatus idle, running;
  running.recording = true;
  running.folder = "/rec";
  running.elapsed = 65'000ms;
  EXPECT_EQ(recordingNotice("Quillon", running, idle)->body, "Recorded 1:05 into /rec");
}

// Levels passed on while recording are the window's end-to-end test.
TEST(StatusMonitor, ElapsedTimeLeavesOutPausesAndANewRecordingStartsFromZero) {
  NativeAudioFactory recorder{"", false, {{}, [] { return true; }, {}}};
  StatusMonitor::Clock::time_point now{};
  GlibMainThread mainThread;
  StatusMonitor::Sources sources;
  sources.engineConnected = [] { return true; };
  sources.recorder = [&] { return &recorder; };
  sources.now = [&] { return now; };
  StatusMonitor monitor(std::move(sources), mainThread);

  recorder.isRecording = true;
  EXPECT_EQ(monitor.sample().elapsed, 0ms);
  now += 5s;
  EXPECT_EQ(monitor.sample().elapsed, 5000ms);

  recorder.isPaused = true;
  monitor.sample();
  now += 3s;
  EXPECT_EQ(monitor.sample().elapsed, 5000ms);
  recorder.isPaused = false;
  monitor.sample();
  now += 2s;
  EXPECT_EQ(monitor.sample().elapsed, 7000ms);

  recorder.isRecording = false;
  monitor.sample();
  recorder.isRecording = true;
  now += 1s;
  EXPECT_EQ(monitor.sample().elapsed, 0ms);  // a new recording counts from its start
}

// Hands out prepared readings, one per call; none once they run out.
struct PreparedProbe final : ProcessProbe {
  PreparedProbe(std::optional<uint64_t> footprint, const std::vector<CpuSample>& samples)
      : footprint(footprint), samples(samples.begin(), samples.end()) {}
  std::optional<uint64_t> footprintBytes() override { return footprint; }
  std::optional<CpuSample> cpuSample() override {
    if (samples.empty()) return std::nullopt;
    CpuSample next = std::move(samples.front());
    samples.pop_front();
    return next;
  }
  std::optional<uint64_t> footprint;
  std::deque<CpuSample> samples;
};

ApplicationMonitor monitorWith(std::optional<uint64_t> footprint, const std::vector<CpuSample>& samples) {
  return ApplicationMonitor(std::make_unique<PreparedProbe>(footprint, samples));
}

TEST(ApplicationMonitor, ReadingsSumThreadsOverTheWindowSinceTheLastLongEnoughReading) {
  EXPECT_EQ(monitorWith(std::nullopt, {}).getResourceUsage(), "Memory: 0.00 MB | CPU: 0.00%");  // reads failed

  // The first reading covers the process's life: 20 s of processor time in
  // the 40 s since it started. Over the next 2 s thread 1 runs a quarter of the time, thread 2 all
  // of it, thread 3 not at all. Then one thread at 40 % whose time shows in
  // whole ticks: readings closer than the minimum window must not become the
  // new starting point, or the next would measure a window of a few ticks.
  auto monitor = monitorWith(3u * 1024 * 1024 / 2, {
      {100.0, 60.0, {{1, 10.0}, {2, 3.0}, {3, 7.0}}},
      {102.0, 0.0, {{1, 10.5}, {2, 5.0}, {3, 7.0}}},
      {110.0, 0.0, {{1, 4.0}}},
      {110.1, 0.0, {{1, 4.1}}},
      {110.2, 0.0, {{1, 4.1}}},
      {111.0, 0.0, {{1, 4.4}}},
  });
  EXPECT_EQ(monitor.getResourceUsage(), "Memory: 1.50 MB | CPU: 50.00%");
  EXPECT_EQ(monitor.getResourceUsage(), "Memory: 1.50 MB | CPU: 125.00%");
  monitor.getCPUUsagePercent();
  EXPECT_NEAR(monitor.getCPUUsagePercent(), 100.0, 1e-6);
  EXPECT_NEAR(monitor.getCPUUsagePercent(), 50.0, 1e-6);
  EXPECT_NEAR(monitor.getCPUUsagePercent(), 40.0, 1e-6);

  // Thread 4 was born in the window and counts from zero; id 2 went to a new
  // thread with less processor time than the old one, so its gain is unknown.
  const CpuSample earlier{0.0, 0.0, {{1, 1.0}, {2, 9.0}}};
  const CpuSample later{4.0, 0.0, {{1, 2.0}, {2, 0.5}, {4, 2.0}}};
  EXPECT_NEAR(cpuPercentBetween(earlier, later), 25.0 + 50.0, 1e-9);
}

TEST(ProcParsers, StatLineWithAwkwardCommandNameAndFootprintAsPrivateResidentPlusSwap) {
  const auto times = parseStatTimes("4242 (a) b (c) d) S 1 4242 4242 0 -1 4194560 100 0 0 0 "
                                    "321 45 0 0 20 0 3 0 987654 1000000 100");
  ASSERT_TRUE(times);
  EXPECT_EQ(times->userTicks, 321u);
  EXPECT_EQ(times->systemTicks, 45u);
  EXPECT_EQ(times->startTicks, 987654u);
  EXPECT_FALSE(parseStatTimes("4242 (short) S 1 2 3"));

  EXPECT_EQ(parseFootprintBytes("55cfd008e000-7ffe27b11000 ---p 00000000 00:00 0    [rollup]\n"
                                "Rss: 1764 kB\nPss_Dirty: 112 kB\nShared_Clean: 1580 kB\nPrivate_Clean: 72 kB\n"
                                "Private_Dirty: 112 kB\nSwap: 16 kB\nSwapPss: 8 kB\n"),
            (72u + 112u + 16u) * 1024u);
  EXPECT_FALSE(parseFootprintBytes("Rss: 10 kB\n"));
}

// The real files: a wrong path leaves the line at zero, and the start point
// must be on the clock the readings are taken on.
TEST(ProcSelfProbe, ReadsThisProcess) {
  ProcSelfProbe probe;
  EXPECT_GT(probe.footprintBytes().value_or(0), 0u);
  const auto seen = probe.cpuSample();
  ASSERT_TRUE(seen);
  EXPECT_FALSE(seen->threads.empty());
  EXPECT_LE(seen->processStartedAt, seen->takenAt);
}

}  // namespace
}  // namespace quillon
