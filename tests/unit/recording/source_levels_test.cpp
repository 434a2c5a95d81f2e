#include "recording/source_levels.h"

#include <gtest/gtest.h>

#include <cmath>

#include "audio_test_helpers.h"
#include "fakes/fake_recording_capture.h"
#include "recording/audio_factory.h"

namespace quillon {
namespace {

TEST(SourceLevels, PeakOfTheSamplesIgnoringNan) {
  EXPECT_EQ(blockPeak({}), 0.0f);
  EXPECT_EQ(blockPeak(std::vector<float>{0.1f, -0.7f, 0.3f}), 0.7f);
  const std::vector<float> withNan{0.2f, std::nanf(""), -0.4f};
  EXPECT_EQ(blockPeak(withNan), 0.4f);
}

TEST(SourceLevels, EachSourceBlockSetsItsOwnLevelOnTheWayToTheMixer) {
  test::TempDir dir;
  test::FakeRecordingCapture mic("mic"), speaker("speaker");
  auto factory = AudioFactory::create(dir.str() + "/r.wav", dir.str() + "/r.opus", true, mic, speaker);
  sourceLevels().microphone = 0.0f;
  sourceLevels().systemAudio = 0.0f;
  mic.deliver(std::vector<float>(640, -0.5f));
  EXPECT_EQ(sourceLevels().microphone.load(), 0.5f);
  EXPECT_EQ(sourceLevels().systemAudio.load(), 0.0f);
  speaker.deliver(std::vector<float>(640, 0.125f));
  EXPECT_EQ(sourceLevels().systemAudio.load(), 0.125f);
  EXPECT_EQ(sourceLevels().microphone.load(), 0.5f);
  factory->close();
}

}  // namespace
}  // namespace quillon
