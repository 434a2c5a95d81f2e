#include "recording/recording_worker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace quillon {
namespace {

using Clock = PeriodQueue::Clock;
using Kind = PeriodQueue::Kind;
using std::chrono::milliseconds;

TEST(PeriodQueue, APeriodWithoutRoomIsCountedOnceAsDroppedTimeAheadOfTheNextOne) {
  PeriodQueue queue(660);  // two 300-byte periods and their headers
  const auto t0 = Clock::now();
  std::vector<uint8_t> period(300);
  for (int i = 0; i < 6; ++i) {
    period.assign(300, uint8_t(i));
    queue.push(period.data(), period.size(), t0 + milliseconds(10 * i));  // room for the first two only
  }
  queue.push(nullptr, 40, t0 + milliseconds(60));  // a hole: no room either

  PeriodQueue::Period out;
  ASSERT_TRUE(queue.pop(out));
  EXPECT_EQ(out.kind, Kind::audio);
  EXPECT_EQ(out.data, std::vector<uint8_t>(300, 0));
  ASSERT_TRUE(queue.pop(out));
  EXPECT_EQ(out.data, std::vector<uint8_t>(300, 1));
  EXPECT_FALSE(queue.pop(out));

  // Room again (a quarter of the queue and more): the lost stretch comes
  // through first, once, with its start.
  period.assign(300, 9);
  queue.push(period.data(), period.size(), t0 + milliseconds(70));
  queue.push(nullptr, 50, t0 + milliseconds(80));
  ASSERT_TRUE(queue.pop(out));
  EXPECT_EQ(out.kind, Kind::dropped);
  EXPECT_EQ(out.bytes, 4u * 300 + 40);
  EXPECT_EQ(out.capturedAt, t0 + milliseconds(20));
  EXPECT_TRUE(out.data.empty());
  ASSERT_TRUE(queue.pop(out));
  EXPECT_EQ(out.data, std::vector<uint8_t>(300, 9));
  EXPECT_EQ(out.capturedAt, t0 + milliseconds(70));
  ASSERT_TRUE(queue.pop(out));
  EXPECT_EQ(out.kind, Kind::hole);
  EXPECT_EQ(out.bytes, 50u);
  EXPECT_FALSE(queue.pop(out));

  // A drop never reported before the producer stopped is handed over at the end.
  for (int i = 0; i < 5; ++i) queue.push(period.data(), period.size(), t0);
  while (queue.pop(out)) {
  }
  ASSERT_TRUE(queue.takeUnreportedDrop(out));
  EXPECT_EQ(out.bytes, 3u * 300);
  EXPECT_FALSE(queue.takeUnreportedDrop(out));
}

TEST(RecordingWorker, TakesPeriodsInCaptureOrderAcrossLanesWithLongSilenceInSlices) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> seen;
  bool held = true;  // the worker stalls on its first period, as on a slow disk
  RecordingWorker worker;
  auto consumer = [&](const char* name) {
    return [&, name](PeriodQueue::Period& period) {
      std::unique_lock lock(mutex);
      // Appended, as GCC 12 at -O3 takes prepending to a std::string for an overlapping copy.
      std::string entry(name);
      entry.append(period.kind == Kind::audio ? "" : "~");
      seen.push_back(entry.append(std::to_string(period.kind == Kind::audio ? period.data[0] : period.bytes)));
      changed.notify_all();
      changed.wait(lock, [&] { return !held; });
    };
  };
  // 100 bytes a second: a slice of silence is 10 bytes.
  RecordingWorker::Lane* mic = worker.addLane(4096, 100, 1, consumer("mic"));
  RecordingWorker::Lane* speaker = worker.addLane(4096, 100, 1, consumer("speaker"));
  const auto t0 = Clock::now();
  const uint8_t bytes[] = {0, 1, 2, 3, 4, 5};
  mic->push(&bytes[0], 1, t0);
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return !seen.empty(); });
  }
  // While it is behind, both lanes fill; the speaker lost 350 ms at 10 ms.
  mic->push(&bytes[3], 1, t0 + milliseconds(150));
  speaker->push(nullptr, 35, t0 + milliseconds(10));
  mic->push(&bytes[5], 1, t0 + milliseconds(250));
  speaker->push(&bytes[4], 1, t0 + milliseconds(400));
  {
    std::unique_lock lock(mutex);
    held = false;
    changed.notify_all();
    changed.wait(lock, [&] { return seen.size() >= 8; });
  }
  worker.closeLane(speaker);
  worker.closeLane(mic);
  EXPECT_EQ(seen, (std::vector<std::string>{"mic0", "speaker~10", "speaker~10", "mic3", "speaker~10", "mic5",
                                            "speaker~5", "speaker4"}));
}

}  // namespace
}  // namespace quillon
