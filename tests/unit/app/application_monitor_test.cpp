#include "app/application_monitor.h"

#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "app/proc_self_probe.h"
#include "fakes/fake_process_probe.h"

namespace quillon {
namespace {

CpuSample sample(double takenAt, std::vector<ThreadCpuTime> threads, double startedAt = 0.0) {
  return CpuSample{takenAt, startedAt, std::move(threads)};
}

ApplicationMonitor monitorWith(std::optional<uint64_t> footprint, std::vector<CpuSample> samples) {
  auto probe = std::make_unique<test::FakeProcessProbe>();
  probe->footprint = footprint;
  probe->samples.assign(samples.begin(), samples.end());
  return ApplicationMonitor(std::move(probe));
}

// The line's shape from a live host is checked end to end (integration.test_window).
TEST(ApplicationMonitor, ReadingsSumThreadsOverTheWindowSinceTheLastLongEnoughReading) {
  EXPECT_EQ(monitorWith(100u * 1024 * 1024, {sample(50.0, {{1, 0.0}, {2, 0.0}}, 40.0)}).getResourceUsage(),
            "Memory: 100.00 MB | CPU: 0.00%");
  EXPECT_EQ(monitorWith(std::nullopt, {}).getResourceUsage(), "Memory: 0.00 MB | CPU: 0.00%");  // reads failed

  // The first reading covers the process's life: 20 s of processor time in
  // 100 s. Over the next 2 s thread 1 runs a quarter of the time, thread 2 all
  // of it, thread 3 not at all. Then one thread at 40 % whose time shows in
  // whole ticks: readings closer than the minimum window must not become the
  // new starting point, or the next would measure a window of a few ticks.
  auto monitor = monitorWith(3u * 1024 * 1024 / 2, {
      sample(100.0, {{1, 10.0}, {2, 3.0}, {3, 7.0}}),
      sample(102.0, {{1, 10.5}, {2, 5.0}, {3, 7.0}}),
      sample(110.0, {{1, 4.0}}),
      sample(110.1, {{1, 4.1}}),
      sample(110.2, {{1, 4.1}}),
      sample(111.0, {{1, 4.4}}),
  });
  EXPECT_EQ(monitor.getResourceUsage(), "Memory: 1.50 MB | CPU: 20.00%");
  EXPECT_EQ(monitor.getResourceUsage(), "Memory: 1.50 MB | CPU: 125.00%");
  monitor.getCPUUsagePercent();
  EXPECT_NEAR(monitor.getCPUUsagePercent(), 100.0, 1e-6);
  EXPECT_NEAR(monitor.getCPUUsagePercent(), 50.0, 1e-6);
  EXPECT_NEAR(monitor.getCPUUsagePercent(), 40.0, 1e-6);

  // Thread 4 was born in the window and counts from zero; id 2 went to a new
  // thread with less processor time than the old one, so its gain is unknown.
  const auto earlier = sample(0.0, {{1, 1.0}, {2, 9.0}});
  const auto later = sample(4.0, {{1, 2.0}, {2, 0.5}, {4, 2.0}});
  EXPECT_NEAR(cpuPercentBetween(earlier, later), 25.0 + 50.0, 1e-9);
  EXPECT_EQ(cpuPercentBetween(later, earlier), 0.0);
}

TEST(ProcParsers, StatLineWithAwkwardCommandNameAndFootprintAsPrivateResidentPlusSwap) {
  const auto times = parseStatTimes("4242 (a) b (c) d) S 1 4242 4242 0 -1 4194560 100 0 0 0 "
                                    "321 45 0 0 20 0 3 0 987654 1000000 100");
  ASSERT_TRUE(times);
  EXPECT_EQ(times->userTicks, 321u);
  EXPECT_EQ(times->systemTicks, 45u);
  EXPECT_EQ(times->startTicks, 987654u);
  EXPECT_FALSE(parseStatTimes("4242 (short) S 1 2 3"));
  EXPECT_FALSE(parseStatTimes("no parenthesis at all"));

  EXPECT_EQ(parseFootprintBytes("55cfd008e000-7ffe27b11000 ---p 00000000 00:00 0    [rollup]\n"
                                "Rss: 1764 kB\nPss_Dirty: 112 kB\nShared_Clean: 1580 kB\nPrivate_Clean: 72 kB\n"
                                "Private_Dirty: 112 kB\nSwap: 16 kB\nSwapPss: 8 kB\n"),
            (72u + 112u + 16u) * 1024u);
  // smaps (without the rollup) repeats the fields per mapping.
  EXPECT_EQ(parseFootprintBytes("Private_Dirty: 4 kB\nSwap: 0 kB\nPrivate_Dirty: 6 kB\n"), 10u * 1024u);
  EXPECT_FALSE(parseFootprintBytes("Rss: 10 kB\n"));
}

TEST(ProcSelfProbe, SeesTheFootprintAndThisThreadsProcessorTime) {
  ProcSelfProbe probe;
  EXPECT_GT(probe.footprintBytes().value_or(0), 0u);
  // This thread spins until it has used 0.2 s of processor time, however
  // loaded the machine is; the reading must then show that much for it.
  timespec used{};
  do {
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  } while (used.tv_sec == 0 && used.tv_nsec < 200'000'000);
  const auto seen = probe.cpuSample();
  ASSERT_TRUE(seen);
  EXPECT_LE(seen->processStartedAt, seen->takenAt);
  const auto self = std::find_if(seen->threads.begin(), seen->threads.end(),
                                 [](const ThreadCpuTime& t) { return t.tid == gettid(); });
  ASSERT_NE(self, seen->threads.end());
  EXPECT_GE(self->cpuSeconds, 0.15);
}

}  // namespace
}  // namespace quillon
