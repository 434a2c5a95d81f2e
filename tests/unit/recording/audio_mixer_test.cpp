#include <gtest/gtest.h>

#include "recording/audio_mixer.h"
#include "recording/timeline_aligner.h"

#include "support/log_capture.h"

namespace quillon {
namespace {

// Samples carry their own index in their value, so an output sample tells
// exactly which input samples were mixed into it.
std::vector<float> ramp(size_t start, size_t count, float step) {
  std::vector<float> out(count);
  for (size_t i = 0; i < count; ++i) out[i] = float(start + i) * step;
  return out;
}

constexpr float kMicStep = 1e-5f;
constexpr float kSpeakerStep = 1e-6f;

struct Mixer {
  AudioMixer mixer{true};
  std::vector<std::vector<float>> out;
  size_t mic = 0, speaker = 0;  // samples fed so far

  Mixer() {
    mixer.setPcmCallback([this](std::span<const float> b) { out.emplace_back(b.begin(), b.end()); });
  }
  // Ramps continuing those fed so far.
  void feed(size_t micCount, size_t speakerCount) {
    if (micCount) mixer.feedMicData(ramp(mic, micCount, kMicStep));
    if (speakerCount) mixer.feedSpeakerData(ramp(speaker, speakerCount, kSpeakerStep));
    mic += micCount;
    speaker += speakerCount;
  }
  // Whether output chunk c mixes the microphone and speaker samples first...first + 639.
  bool pairs(size_t c, size_t first) const {
    std::vector<float> expected(640);
    AudioMixer::mixAlignedMic(ramp(first, 640, kMicStep), ramp(first, 640, kSpeakerStep), expected);
    return out.at(c) == expected;
  }
  // Blocks of one level from one side only.
  void alone(bool toMic, int blocks) {
    const std::vector<float> block(1024, 0.5f);
    for (int i = 0; i < blocks; ++i) toMic ? mixer.feedMicData(block) : mixer.feedSpeakerData(block);
    (toMic ? mic : speaker) += blocks * block.size();
  }
};

TEST(AudioMixer, GainsAndClamping) {
  const std::vector<float> mic = {1.0f, -1.0f, 1.0f, 0.0f, 0.5f};
  const std::vector<float> speaker = {2.0f, -2.0f, 0.0f, 1.0f, -0.25f, 99.0f};
  std::vector<float> out(5);
  AudioMixer::mixAlignedMic(mic, speaker, out);
  EXPECT_EQ(out, (std::vector<float>{1.0f, -1.0f, 0.6f, 0.4f, 0.5f * 0.6f + -0.25f * 0.4f}));
}

// Both captures place their blocks on the recording's timeline, so equal
// indexes pair: microphone sample n with speaker sample n, across chunks,
// queued remainders and the microphone being switched off and on.
TEST(AudioMixer, EqualIndexesPairInChunksAndWhatIsQueuedSurvivesTheMicrophoneBeingOff) {
  Mixer m;
  m.feed(640, 639);
  EXPECT_TRUE(m.out.empty());
  m.feed(0, 1);
  m.feed(5760, 9000);  // many chunks at once; 3240 speaker samples stay queued
  ASSERT_EQ(m.out.size(), 10u);
  for (size_t c = 0; c < 10; ++c) EXPECT_TRUE(m.pairs(c, c * 640)) << c;

  // Off: microphone blocks are dropped, speaker blocks pass as they are.
  m.mixer.switchMicEnable(false);
  m.mixer.feedMicData(std::vector<float>(999, 0.9f));
  m.mixer.feedSpeakerData(std::vector<float>(300, 1.5f));
  ASSERT_EQ(m.out.size(), 11u);
  EXPECT_EQ(m.out.back(), std::vector<float>(300, 1.5f));

  // On again: the silence the capture put in front for the time it was off
  // is skipped, and the microphone pairs with the speaker audio still queued.
  m.mixer.switchMicEnable(true);
  m.mixer.feedMicData(std::vector<float>(30000, 0.0f));
  m.feed(2000, 0);
  ASSERT_EQ(m.out.size(), 14u);
  for (size_t c = 0; c < 3; ++c) EXPECT_TRUE(m.pairs(11 + c, 6400 + c * 640)) << c;
}

// A source that stops delivering must not hold the recording back: after two
// seconds ahead the silent side is padded, so output keeps the pace of the
// side still delivering (nothing piles up), and each episode warns once.
TEST(AudioMixer, ASilentSourceIsFilledAfterTwoSecondsAndEachEpisodeWarnsOnce) {
  test::LogCapture log;
  Mixer m;
  m.alone(true, 31);  // just under 2 s: still waiting for the speaker
  EXPECT_TRUE(m.out.empty());
  m.alone(true, 1002);
  EXPECT_EQ(m.out.size(), m.mic / 640);
  EXPECT_FLOAT_EQ(m.out.back()[0], 0.5f * 0.6f);
  m.alone(false, 1700);  // 109 s of the speaker alone
  EXPECT_EQ(m.out.size(), (m.mic + m.speaker) / 640);
  EXPECT_FLOAT_EQ(m.out.back()[100], 0.5f * 0.4f);
  m.alone(true, 100);  // 6.4 s with the speaker gone again
  EXPECT_EQ(log.count("Microphone audio stopped arriving"), 1u);
  EXPECT_EQ(log.count("Speaker audio stopped arriving"), 2u);
}

// The timeline both captures place their blocks on: what makes equal mixer
// indexes equal instants.
using Clock = RecordingClock::Clock;
using std::chrono::milliseconds;

// Blocks of 320 samples (20 ms) placed by the instant their first sample was
// captured, as the sound server reports it.
TEST(TimelineAligner, AStreamsFirstSecondFollowsTheReportsThenItsOwnCount) {
  const auto t0 = Clock::now();
  auto clock = std::make_shared<RecordingClock>(t0);
  TimelineAligner aligner(clock);
  int64_t placed = 0;  // samples on the timeline so far
  // A block of 320 samples reported `lateMs` after the end of the timeline.
  const auto place = [&](int64_t lateMs) {
    const auto p = aligner.place(t0 + milliseconds(placed / 16 + lateMs), 320);
    placed += int64_t(p.silenceBefore) + 320 - int64_t(p.dropFront);
    return p.silenceBefore + p.dropFront;
  };
  // A stream whose first period was captured 700 ms after the start; its
  // first second follows the reports at once.
  EXPECT_EQ(place(700), 11200u);
  EXPECT_EQ(place(60), 960u);
  for (int i = 0; i < 50; ++i) place(0);
  // After it, a source late for a while, even a second and more, catches up
  // by itself: it is neither cut nor padded.
  for (int i = 0; i < 60; ++i) ASSERT_EQ(place(i < 2 ? 80 - 60 * i : 100), 0u) << i;
  // Audio captured before the recording started is not the recording's.
  EXPECT_EQ(TimelineAligner(clock).place(t0 - milliseconds(10), 320).dropFront, 160u);
}

TEST(TimelineAligner, PausesAreTakenOutOfTheTimeline) {
  const auto t0 = Clock::now();
  auto clock = std::make_shared<RecordingClock>(t0);
  clock->pause(t0 + milliseconds(1000));
  EXPECT_EQ(clock->sampleAt(t0 + milliseconds(1500)), 16000);  // inside the pause
  clock->resume(t0 + milliseconds(3000));
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
  const auto timelineEnd = t0 + milliseconds(3000 + 120);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(aligner.place(timelineEnd + milliseconds(400 + 320 * i), 3200).silenceBefore, 0u) << i;
  }
}

}  // namespace
}  // namespace quillon
