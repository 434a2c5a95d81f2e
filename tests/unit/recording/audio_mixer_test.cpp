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

// Mixed value of microphone sample `m` and speaker sample `s` from the ramps.
float expectedMix(size_t m, size_t s) {
  const float mic = float(m) * kMicStep, speaker = float(s) * kSpeakerStep;
  float out;
  AudioMixer::mixAlignedMic({&mic, 1}, {&speaker, 1}, {&out, 1});
  return out;
}

struct Mixer {
  AudioMixer mixer;
  std::vector<std::vector<float>> out;
  size_t mic = 0, speaker = 0;  // ramp samples fed so far

  explicit Mixer(bool expectMic) : mixer(expectMic) {
    mixer.setPcmCallback([this](std::span<const float> b) { out.emplace_back(b.begin(), b.end()); });
  }
  void feed(size_t micCount, size_t speakerCount) {
    if (micCount) mixer.feedMicData(ramp(mic, micCount, kMicStep));
    if (speakerCount) mixer.feedSpeakerData(ramp(speaker, speakerCount, kSpeakerStep));
    mic += micCount;
    speaker += speakerCount;
  }
};

TEST(AudioMixer, GainsAndClamping) {
  const std::vector<float> mic = {1.0f, -1.0f, 1.0f, 0.0f, 0.5f};
  const std::vector<float> speaker = {1.0f, -1.0f, 0.0f, 1.0f, -0.25f, 99.0f};
  std::vector<float> out(5);
  AudioMixer::mixAlignedMic(mic, speaker, out);
  EXPECT_EQ(out, (std::vector<float>{1.0f, -1.0f, 0.6f, 0.4f, 0.5f * 0.6f + -0.25f * 0.4f}));
}

// Both captures place their blocks on the recording's timeline, so equal
// indexes pair: microphone sample n with speaker sample n, across chunks,
// queued remainders and the microphone being switched off and on.
TEST(AudioMixer, EqualIndexesPairInChunksAndWhatIsQueuedSurvivesTheMicrophoneBeingOff) {
  Mixer m(true);
  m.feed(640, 639);
  EXPECT_TRUE(m.out.empty());
  m.feed(0, 1);
  ASSERT_EQ(m.out.size(), 1u);
  ASSERT_EQ(m.out[0].size(), 640u);
  for (size_t i = 0; i < 640; ++i) ASSERT_EQ(m.out[0][i], expectedMix(i, i)) << i;
  m.feed(5760, 9000);  // many chunks at once; 3240 speaker samples stay queued
  ASSERT_EQ(m.out.size(), 10u);
  EXPECT_EQ(m.out[9][639], expectedMix(6399, 6399));

  // Off: microphone blocks are dropped, speaker blocks pass as they are.
  m.mixer.switchMicEnable(false);
  m.mixer.feedMicData(std::vector<float>(999, 0.9f));
  m.mixer.feedSpeakerData(std::vector<float>(300, 1.5f));
  ASSERT_EQ(m.out.size(), 11u);
  EXPECT_EQ(m.out.back(), std::vector<float>(300, 1.5f));

  // On again: the silence the capture put in front for the time it was off
  // is skipped, and the microphone pairs with the speaker audio still queued.
  m.out.clear();
  m.mixer.switchMicEnable(true);
  std::vector<float> rejoin(30000, 0.0f);
  const auto tone = ramp(6400, 2000, kMicStep);
  rejoin.insert(rejoin.end(), tone.begin(), tone.end());
  m.mixer.feedMicData(rejoin);
  ASSERT_EQ(m.out.size(), 3u);
  for (size_t c = 0; c < 3; ++c) {
    for (size_t i = 0; i < 640; i += 37) ASSERT_EQ(m.out[c][i], expectedMix(6400 + c * 640 + i, 6400 + c * 640 + i));
  }
}

// A microphone that goes silent mid-recording: the chunks paired before are
// exact, output keeps coming at the speaker's pace afterwards (nothing piles
// up) and the episode is reported once.
TEST(AudioMixer, ADeadMicrophoneIsFilledWithSilenceAfterTwoSeconds) {
  test::LogCapture log;
  Mixer m(true);
  for (int i = 0; i < 200; ++i) m.feed(441, 441);  // about 5.5 s of both
  const size_t paired = m.out.size();
  ASSERT_EQ(paired, m.speaker / 640);
  for (size_t c = 0; c < paired; c += 7) ASSERT_EQ(m.out[c][5], expectedMix(c * 640 + 5, c * 640 + 5));
  const size_t alone = 4000 * 441;  // 110 s of speaker alone
  for (int i = 0; i < 4000; ++i) m.mixer.feedSpeakerData(std::vector<float>(441, 0.5f));
  EXPECT_LT(m.speaker + alone - m.out.size() * 640, 2 * 640u);
  EXPECT_FLOAT_EQ(m.out.back()[100], 0.5f * 0.4f);
  EXPECT_EQ(log.count("Microphone audio stopped arriving"), 1u);
}

TEST(AudioMixer, ADeadSpeakerIsFilledAndEachEpisodeWarnsOnce) {
  test::LogCapture log;
  Mixer m(true);
  auto micOnly = [&](int blocks) {
    for (int i = 0; i < blocks; ++i) m.mixer.feedMicData(std::vector<float>(1024, 0.5f));
  };
  micOnly(31);  // just under 2 s: still waiting for the speaker
  EXPECT_TRUE(m.out.empty());
  micOnly(1002);
  EXPECT_EQ(m.out.size() * 640, 1033 * 1024 / 640 * 640);
  EXPECT_FLOAT_EQ(m.out.back()[0], 0.5f * 0.6f);
  m.mixer.feedSpeakerData(std::vector<float>(1000, 0.25f));
  micOnly(100);  // 6.4 s with the speaker gone again
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
