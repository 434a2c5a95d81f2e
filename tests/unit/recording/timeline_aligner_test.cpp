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

  // A stream whose first period was captured 700 ms after the start; its
  // first second follows the reports at once.
  EXPECT_EQ(aligner.place(at(700), 320).silenceBefore, 11200u);
  EXPECT_EQ(aligner.place(at(780), 320).silenceBefore, 960u);
  for (int i = 0; i < 50; ++i) aligner.place(at(aligner.position() / 16), 320);
  // After it, a source late for a while catches up by itself: nothing is added.
  const int64_t steady = aligner.position();
  EXPECT_EQ(aligner.place(at(steady / 16 + 80), 320).silenceBefore, 0u);
  EXPECT_EQ(aligner.place(at(steady / 16 + 20), 320).silenceBefore, 0u);
  EXPECT_EQ(aligner.position(), steady + 640);

  // A source that stays late for a second and more is still not cut or padded.
  for (int i = 0; i < 60; ++i) {
    const auto p = aligner.place(at(aligner.position() / 16 + 100), 320);
    ASSERT_EQ(p.silenceBefore + p.dropFront, 0u) << i;
  }

  // Audio captured before the recording started is not the recording's.
  TimelineAligner early(clock);
  EXPECT_EQ(early.place(at(-10), 320).dropFront, 160u);
  EXPECT_EQ(early.position(), 160);
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
