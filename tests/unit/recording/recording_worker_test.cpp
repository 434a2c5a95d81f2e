#include "recording/recording_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace quillon {
namespace {

using Clock = PeriodQueue::Clock;
using Kind = PeriodQueue::Kind;
using std::chrono::milliseconds;

// A period as "KIND BYTES @MS": audio as "audio 300x7" when all its bytes are 7.
std::string describe(const PeriodQueue::Period& p, Clock::time_point t0) {
  std::string text = p.kind == Kind::audio ? "audio " : p.kind == Kind::hole ? "hole " : "dropped ";
  if (p.kind != Kind::audio) {
    text += std::to_string(p.bytes) + (p.data.empty() ? "" : " with data");
  } else {
    const bool uniform = std::ranges::count(p.data, p.data.at(0)) == std::ssize(p.data);
    text += std::to_string(p.data.size());
    text += uniform ? 'x' + std::to_string(p.data[0]) : std::string(" mixed");
  }
  return text + " @" + std::to_string(std::chrono::duration_cast<milliseconds>(p.capturedAt - t0).count());
}

TEST(PeriodQueue, APeriodWithoutRoomIsCountedOnceAsDroppedTimeAheadOfTheNextOne) {
  PeriodQueue queue(660);  // two 300-byte periods and their headers
  const auto t0 = Clock::now();
  auto push = [&](uint8_t value, int ms) {
    const std::vector<uint8_t> period(300, value);
    queue.push(period.data(), period.size(), t0 + milliseconds(ms));
  };
  auto drain = [&] {
    std::vector<std::string> out;
    PeriodQueue::Period period;
    while (queue.pop(period)) out.push_back(describe(period, t0));
    return out;
  };
  for (uint8_t i = 0; i < 6; ++i) push(i, 10 * i);  // room for the first two only
  queue.push(nullptr, 40, t0 + milliseconds(60));   // a hole: no room either
  EXPECT_EQ(drain(), (std::vector<std::string>{"audio 300x0 @0", "audio 300x1 @10"}));

  // Room again (a quarter of the queue and more): the lost stretch comes
  // through first, once, with its start.
  push(9, 70);
  queue.push(nullptr, 50, t0 + milliseconds(80));
  EXPECT_EQ(drain(), (std::vector<std::string>{"dropped 1240 @20", "audio 300x9 @70", "hole 50 @80"}));

  // A drop never reported before the producer stopped is handed over at the end.
  for (int i = 0; i < 5; ++i) push(9, 90);
  drain();
  PeriodQueue::Period period;
  ASSERT_TRUE(queue.takeUnreportedDrop(period));
  EXPECT_EQ(describe(period, t0), "dropped 900 @90");
  EXPECT_FALSE(queue.takeUnreportedDrop(period));
}

// The worker stalls on its first period, as on a slow disk, while both lanes
// fill; then it takes their periods in capture order, long silence in slices,
// and hands on everything before it ends.
TEST(RecordingWorker, TakesPeriodsInCaptureOrderAcrossLanesWithLongSilenceInSlices) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> seen;
  bool held = true;
  const auto t0 = Clock::now();
  {
    RecordingWorker worker;
    auto consumer = [&](const char* name) {
      return [&, name](PeriodQueue::Period& period) {
        std::unique_lock lock(mutex);
        seen.push_back(std::string(name).append(" ").append(describe(period, t0)));
        changed.notify_all();
        changed.wait(lock, [&] { return !held; });
      };
    };
    // 100 bytes a second: a slice of silence is 10 bytes.
    RecordingWorker::Lane* mic = worker.addLane(4096, 100, 1, consumer("mic"));
    RecordingWorker::Lane* speaker = worker.addLane(4096, 100, 1, consumer("speaker"));
    const uint8_t bytes[] = {0, 1, 2, 3, 4, 5};
    mic->push(&bytes[0], 1, t0);
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return !seen.empty(); });
    // The speaker lost 350 ms at 10 ms.
    mic->push(&bytes[3], 1, t0 + milliseconds(150));
    speaker->push(nullptr, 35, t0 + milliseconds(10));
    mic->push(&bytes[5], 1, t0 + milliseconds(250));
    speaker->push(&bytes[4], 1, t0 + milliseconds(400));
    held = false;
    changed.notify_all();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"mic audio 1x0 @0", "speaker hole 10 @10", "speaker hole 10 @110",
                                            "mic audio 1x3 @150", "speaker hole 10 @210", "mic audio 1x5 @250",
                                            "speaker hole 5 @310", "speaker audio 1x4 @400"}));
}

}  // namespace
}  // namespace quillon
