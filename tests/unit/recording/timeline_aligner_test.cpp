#include "recording/timeline_aligner.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

using Clock = RecordingClock::Clock;
using std::chrono::milliseconds;

// Blocks of 320 samples (20 ms) placed by the instant their first sample was
// captured, as the sound server reports it.
TEST(TimelineAligner, AStreamsFirstSecondFollowsTheReportsThenItsOwnCount) {
  const auto t0 = Clock::now();
  auto clock = std::make_shared<RecordingClock>(t0);
  TimelineAligner aligner(clock);
  const auto at = [&](int64_t ms) { return t0 + milliseconds(ms); };
  int64_t placed = 0;  // samples on the timeline so far
  // A block of 320 samples reported `lateMs` after the end of the timeline.
  const auto place = [&](int64_t lateMs) {
    const auto p = aligner.place(at(placed / 16 + lateMs), 320);
    placed += int64_t(p.silenceBefore) + 320 - int64_t(p.dropFront);
    return p;
  };

  // A stream whose first period was captured 700 ms after the start; its
  // first second follows the reports at once.
  EXPECT_EQ(place(700).silenceBefore, 11200u);
  EXPECT_EQ(place(60).silenceBefore, 960u);
  for (int i = 0; i < 50; ++i) place(0);
  // After it, a source late for a while, even a second and more, catches up
  // by itself: it is neither cut nor padded.
  for (int i = 0; i < 60; ++i) {
    const auto p = place(i < 2 ? 80 - 60 * i : 100);
    ASSERT_EQ(p.silenceBefore + p.dropFront, 0u) << i;
  }

  // Audio captured before the recording started is not the recording's.
  TimelineAligner early(clock);
  EXPECT_EQ(early.place(at(-10), 320).dropFront, 160u);
}

TEST(TimelineAligner, PausesAreTakenOutOfTheTimeline) {
  const auto t0 = Clock::now();
  auto clock = std::make_shared<RecordingClock>(t0);
  clock->pause(t0 + milliseconds(1000));
  EXPECT_EQ(clock->sampleAt(t0 + milliseconds(1500)), 16000);  // inside the pause
  clock->resume(t0 + milliseconds(3000));
  EXPECT_EQ(clock->sampleAt(t0 + milliseconds(3500)), 24000);

  TimelineAligner aligner(clock);
  std::vector<float> block(320, 0.5f);
  aligner.align(block, t0 + milliseconds(3100));
  ASSERT_EQ(block.size(), 17600u + 320u);  // 1.1 s of recording, not 3.1 s
  EXPECT_EQ(block[17599], 0.0f);
  EXPECT_EQ(block[17600], 0.5f);

  // A resumed stream drains what it held back and its reports run ahead of
  // its audio: the position follows them without silence until a second of
  // audio has passed and the latency holds still.
  aligner.rebase();
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(aligner.place(Clock::now() - milliseconds(400 - 80 * i), 3200).silenceBefore, 0u) << i;
  }
  for (int i = 0; i < 4; ++i) EXPECT_EQ(aligner.place(Clock::now() - milliseconds(20), 320).silenceBefore, 0u);
}

}  // namespace
}  // namespace quillon
