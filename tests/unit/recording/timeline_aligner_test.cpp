#include "recording/timeline_aligner.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

using Clock = RecordingClock::Clock;
using std::chrono::milliseconds;

// Blocks of 320 samples (20 ms) placed by the instant their first sample was
// captured, as the sound server reports it.
TEST(TimelineAligner, LateStartsHolesAndEarlyAudioLandWhereTheyHappened) {
  const auto t0 = Clock::now();
  auto clock = std::make_shared<RecordingClock>(t0);
  TimelineAligner aligner(clock);

  // A stream whose first period was captured 700 ms after the start.
  auto p = aligner.place(t0 + milliseconds(700), 320);
  EXPECT_EQ(p.silenceBefore, 11200u);
  EXPECT_EQ(p.dropFront, 0u);
  // Timing noise within the tolerance changes nothing.
  p = aligner.place(t0 + milliseconds(735), 320);
  EXPECT_EQ(p.silenceBefore + p.dropFront, 0u);
  // A 100 ms hole the server reported nothing for is filled, counted once.
  p = aligner.place(t0 + milliseconds(840), 320);
  EXPECT_EQ(p.silenceBefore, 1600u);
  EXPECT_EQ(aligner.position(), 13760);
  // A device clock running ahead: the surplus is dropped.
  p = aligner.place(t0 + milliseconds(820), 320);
  EXPECT_EQ(p.dropFront, 320u);

  // Audio captured before the recording started is not the recording's.
  TimelineAligner early(clock);
  p = early.place(t0 - milliseconds(10), 320);
  EXPECT_EQ(p.dropFront, 160u);
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
  std::vector<uint8_t> block(320 * sizeof(float), 1);
  aligner.align(block, t0 + milliseconds(3100));
  EXPECT_EQ(block.size(), (17600 + 320) * sizeof(float));  // 1.1 s of recording, not 3.1 s
  EXPECT_EQ(block[0], 0);

  // A resumed stream drains what it held back and its reports run ahead of
  // its audio: the position follows them without silence until a second of
  // audio has passed and the latency holds still; then gaps are filled again.
  aligner.rebase();
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(aligner.place(Clock::now() - milliseconds(400 - 80 * i), 3200).silenceBefore, 0u) << i;
  }
  for (int i = 0; i < 4; ++i) EXPECT_EQ(aligner.place(Clock::now() - milliseconds(20), 320).silenceBefore, 0u);
  EXPECT_GT(aligner.place(Clock::now() + milliseconds(600), 320).silenceBefore, 8000u);
}

}  // namespace
}  // namespace quillon
