#include "recording/audio_mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "audio_test_helpers.h"

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

struct Collector {
  std::vector<std::vector<float>> blocks;
  SampleCallback callback() {
    return [this](std::span<const float> b) { blocks.emplace_back(b.begin(), b.end()); };
  }
};

// Mixed value of microphone sample `m` and speaker sample `s` from the ramps.
float expectedMix(size_t m, size_t s) {
  const float mic = float(m) * kMicStep;
  const float speaker = float(s) * kSpeakerStep;
  float out;
  AudioMixer::mixAlignedMic({&mic, 1}, {&speaker, 1}, {&out, 1});
  return out;
}

// Both captures place their blocks on the recording's timeline, so equal
// indexes pair: microphone sample n with speaker sample n.
TEST(AudioMixer, ChunksPairEqualIndexesOnceBothSidesHoldAChunk) {
  AudioMixer mixer(true);
  Collector out;
  mixer.setPcmCallback(out.callback());
  mixer.feedMicData(ramp(0, 640, kMicStep));
  mixer.feedSpeakerData(ramp(0, 639, kSpeakerStep));
  EXPECT_TRUE(out.blocks.empty());
  mixer.feedSpeakerData(ramp(639, 1, kSpeakerStep));
  ASSERT_EQ(out.blocks.size(), 1u);
  ASSERT_EQ(out.blocks[0].size(), 640u);
  for (size_t i = 0; i < 640; ++i) ASSERT_EQ(out.blocks[0][i], expectedMix(i, i)) << i;

  // Large blocks give many chunks at once and leave the rest queued.
  mixer.feedMicData(ramp(640, 5760, kMicStep));
  mixer.feedSpeakerData(ramp(640, 9000, kSpeakerStep));
  ASSERT_EQ(out.blocks.size(), 10u);
  EXPECT_EQ(out.blocks[9][639], expectedMix(6399, 6399));
  EXPECT_EQ(mixer.micQueuedSamples(), 0u);
  EXPECT_EQ(mixer.speakerQueuedSamples(), 3240u);
}

// A microphone switched back on pairs with the speaker audio of that moment:
// the silence its capture put in front for the time it was off is skipped.
TEST(AudioMixer, ARejoiningMicrophoneSkipsTheSilenceOfItsTimeOff) {
  AudioMixer mixer(false);
  Collector out;
  mixer.setPcmCallback(out.callback());
  mixer.feedSpeakerData(ramp(1, 900, kSpeakerStep));
  mixer.switchMicEnable(true);
  std::vector<float> mic(30000, 0.0f);
  const auto tone = ramp(1, 640, kMicStep);
  mic.insert(mic.end(), tone.begin(), tone.end());
  mixer.feedMicData(mic);
  mixer.feedSpeakerData(ramp(1, 640, kSpeakerStep));
  ASSERT_EQ(out.blocks.size(), 2u);
  EXPECT_EQ(out.blocks[1][10], expectedMix(11, 11));
}

TEST(AudioMixer, GainsAndClamping) {
  const std::vector<float> mic = {1.0f, -1.0f, 1.0f, 0.0f, 0.5f};
  const std::vector<float> speaker = {1.0f, -1.0f, 0.0f, 1.0f, -0.25f, 99.0f};
  std::vector<float> out(5);
  AudioMixer::mixAlignedMic(mic, speaker, out);
  EXPECT_EQ(out[0], 1.0f);
  EXPECT_EQ(out[1], -1.0f);
  EXPECT_EQ(out[2], 0.6f);
  EXPECT_EQ(out[3], 0.4f);
  EXPECT_EQ(out[4], 0.5f * 0.6f + -0.25f * 0.4f);
}

TEST(AudioMixer, WithoutMicrophoneSpeakerBlocksPassThroughUnscaledAndMicIsDropped) {
  AudioMixer mixer(false);
  Collector out;
  mixer.setPcmCallback(out.callback());
  std::vector<float> speaker = ramp(0, 250, 0.01f);  // reaches 2.49: no clamping either
  mixer.feedMicData(ramp(0, 640, kMicStep));
  mixer.feedSpeakerData(speaker);
  ASSERT_EQ(out.blocks.size(), 1u);
  EXPECT_EQ(out.blocks[0], speaker);
  EXPECT_EQ(mixer.micQueuedSamples(), 0u);
  EXPECT_EQ(mixer.speakerQueuedSamples(), 0u);
}

TEST(AudioMixer, SwitchingOffAndOnKeepsQueuedSamplesAndThePairingOffset) {
  AudioMixer mixer(true);
  Collector out;
  mixer.setPcmCallback(out.callback());
  size_t mic = 0, speaker = 0;  // samples queued so far per source
  auto feed = [&](size_t micCount, size_t speakerCount) {
    mixer.feedMicData(ramp(mic, micCount, kMicStep));
    mixer.feedSpeakerData(ramp(speaker, speakerCount, kSpeakerStep));
    mic += micCount;
    speaker += speakerCount;
  };
  feed(1000, 3700);
  const size_t before = out.blocks.size();
  mixer.switchMicEnable(false);
  mixer.feedMicData(std::vector<float>(999, 0.9f));
  mixer.feedSpeakerData(std::vector<float>(300, 0.7f));
  ASSERT_EQ(out.blocks.size(), before + 1);
  EXPECT_EQ(out.blocks.back(), std::vector<float>(300, 0.7f));
  out.blocks.erase(out.blocks.begin() + long(before), out.blocks.end());
  mixer.switchMicEnable(true);
  feed(2000, 2000);
  ASSERT_EQ(out.blocks.size(), 3000u / 640);
  for (size_t c = 0; c < out.blocks.size(); ++c) {
    for (size_t i = 0; i < 640; i += 97) {
      const size_t m = c * 640 + i;
      ASSERT_EQ(out.blocks[c][i], expectedMix(m, m)) << "chunk " << c << " sample " << i;
    }
  }
}

// A microphone that goes silent mid-recording: the chunks paired before are
// exact, output keeps coming at the speaker's pace afterwards, queues stay
// bounded and the episode is reported once.
TEST(AudioMixer, ADeadMicrophoneIsFilledWithSilenceAfterTwoSeconds) {
  test::LogCapture log;
  AudioMixer mixer(true);
  Collector out;
  mixer.setPcmCallback(out.callback());
  const size_t block = 441;
  size_t mic = 0, speaker = 0;
  for (int i = 0; i < 200; ++i) {  // about 5.5 s of both
    mixer.feedMicData(ramp(mic, block, kMicStep));
    mixer.feedSpeakerData(ramp(speaker, block, kSpeakerStep));
    mic += block;
    speaker += block;
  }
  const size_t pairedChunks = out.blocks.size();
  ASSERT_EQ(pairedChunks, speaker / 640);
  for (size_t c = 0; c < pairedChunks; c += 7) {
    ASSERT_EQ(out.blocks[c][5], expectedMix(c * 640 + 5, c * 640 + 5));
  }
  size_t maxQueued = 0;
  for (int i = 0; i < 4000; ++i) {  // 110 s of speaker alone
    mixer.feedSpeakerData(std::vector<float>(block, 0.5f));
    maxQueued = std::max(maxQueued, mixer.speakerQueuedSamples() + mixer.micQueuedSamples());
  }
  const size_t speakerSamples = 4000 * block;
  EXPECT_GE(out.blocks.size() - pairedChunks, (speakerSamples - AudioMixer::kSilenceFillThreshold) / 640 - 8);
  EXPECT_LT(maxQueued, 2 * (AudioMixer::kSilenceFillThreshold + 3200 + block));
  EXPECT_FLOAT_EQ(out.blocks.back()[100], 0.5f * 0.4f);  // silence from the microphone
  EXPECT_EQ(log.count("Microphone audio stopped arriving"), 1u);
}

TEST(AudioMixer, ADeadSpeakerIsFilledAndEachEpisodeWarnsOnce) {
  test::LogCapture log;
  AudioMixer mixer(true);
  Collector out;
  mixer.setPcmCallback(out.callback());
  auto micOnly = [&](int blocks) {
    for (int i = 0; i < blocks; ++i) mixer.feedMicData(std::vector<float>(1024, 0.5f));
  };
  micOnly(31);  // just under 2 s: still waiting for the speaker
  EXPECT_TRUE(out.blocks.empty());
  micOnly(2);
  EXPECT_GE(out.blocks.size(), 50u);
  EXPECT_LT(mixer.micQueuedSamples(), 640u);
  micOnly(1000);
  EXPECT_LT(mixer.speakerQueuedSamples(), 3200u + 640u);
  EXPECT_EQ(out.blocks.size() * 640, (33 + 1000) * 1024 / 640 * 640);
  EXPECT_FLOAT_EQ(out.blocks.back()[0], 0.5f * 0.6f);
  mixer.feedSpeakerData(std::vector<float>(1000, 0.25f));
  micOnly(100);  // 6.4 s with the speaker gone again
  EXPECT_EQ(log.count("Speaker audio stopped arriving"), 2u);
}

}  // namespace
}  // namespace quillon
