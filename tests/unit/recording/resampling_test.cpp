#include <gtest/gtest.h>

#include "recording/mono16k_converter.h"
#include "recording/samplerate_util.h"

#include "audio_test_helpers.h"

namespace quillon {
namespace {

// Blocks of any size, frames split between them included, give the stream
// one whole block gives: the tone down-mixed as (L + R) / 2, and at every
// block as many frames as the rate says, within one.
TEST(Mono16kConverter, BlocksOfAnySizeGiveOneContinuousDownMixedStreamAtTheExactRate) {
  const auto left = test::sine(1000, 44100, 5 * 44100, 0.8);
  const auto right = test::sine(1000, 44100, 5 * 44100, 0.8 / 3);  // the channels differ
  const auto samples = test::interleave({left, right});

  std::vector<float> expected, got, chunk;
  Mono16kConverter::create(44100, 2)->process(samples, expected);
  auto split = Mono16kConverter::create(44100, 2);
  const std::vector<size_t> sizes = {0, 1, 3, 2, 5, 4097, 0, 7, 1023, 2000, 666};
  for (size_t at = 0, i = 0; at < samples.size(); ++i) {
    const size_t n = std::min(sizes[i % sizes.size()], samples.size() - at);
    split->process({samples.data() + at, n}, chunk);
    got.insert(got.end(), chunk.begin(), chunk.end());
    at += n;
    ASSERT_NEAR(double(got.size()), double(at / 2) * 16000 / 44100, 1.0) << at;
  }
  ASSERT_NEAR(double(got.size()), double(expected.size()), 1.0);
  for (size_t i = 0; i < std::min(got.size(), expected.size()); ++i) ASSERT_NEAR(got[i], expected[i], 1e-5) << i;
  EXPECT_NEAR(test::toneAmplitude(got, 1000, 16000), 0.8 * 2 / 3, 0.02);
}

std::vector<float> convert(const std::vector<float>& interleaved, int32_t rate, int32_t channels) {
  return test::recast<float>(SamplerateUtil::convertToMono16k(test::recast<uint8_t>(interleaved), rate, channels).value());
}

// No program calls the one-shot forms: one check of each rule.
TEST(SamplerateUtil, ConvertsToMono16kAveragingTwoChannelsClampingAndIgnoringTheRest) {
  const auto tone = test::sine(440, 48000, 960, 0.5);
  EXPECT_NEAR(double(convert(test::interleave({tone, tone}), 48000, 2).size()), 320.0, 1.0);

  // At ratio 1 the linear converter hands the input back one sample late,
  // starting from silence.
  const auto mono = test::sine(300, 16000, 160, 0.5);
  auto same = convert(mono, 16000, 1);
  ASSERT_EQ(same.at(0), 0.0f);
  same.erase(same.begin());
  same.resize(159);
  for (size_t i = 0; i < same.size(); ++i) ASSERT_NEAR(same[i], mono[i], 1e-6) << i;

  const size_t n = 320;
  const std::vector<float> a(n, 0.9f), b(n, 0.3f), loud(n, 1.5f);
  EXPECT_NEAR(convert(test::interleave({a, b}), 16000, 2)[n / 2], 0.6f, 1e-6);
  EXPECT_NEAR(convert(test::interleave({loud, loud}), 16000, 2)[n / 2], 1.0f, 1e-6);
  EXPECT_NEAR(convert(loud, 16000, 1)[n / 2], 1.5f, 1e-6);  // one channel is not clamped
  EXPECT_NEAR(convert(test::interleave({a, b, test::sine(900, 16000, n, 1.0)}), 16000, 3)[n / 2], 0.6f, 1e-6);
  // Less than one whole stereo frame: nothing to convert, but not an error.
  EXPECT_EQ(SamplerateUtil::convertToMono16k(std::vector<uint8_t>(4, 0), 16000, 2), std::vector<uint8_t>{});
}

TEST(Resampling, UnusableStreamsAreRefusedAndTheOneShotFormsLogWhy) {
  EXPECT_FALSE(Mono16kConverter::create(0, 2));
  EXPECT_FALSE(Mono16kConverter::create(48000, 9));
  EXPECT_FALSE(Mono16kConverter::create(10, 1));  // beyond the library's ratio range
  test::LogCapture log;
  const std::vector<uint8_t> some(64, 0);
  EXPECT_FALSE(SamplerateUtil::convertToMono16k(some, 48000, 9));
  EXPECT_FALSE(SamplerateUtil::convertToMono16k(some, 0, 1));
  EXPECT_FALSE(SamplerateUtil::convertToStereo16k({}, 48000, 2));
  EXPECT_EQ(log.count("[SamplerateUtil] [ERROR] Invalid input for convertToMono16kFloat."), 2u);
  EXPECT_EQ(log.count("[SamplerateUtil] [ERROR] Invalid input for convertToStereo16k."), 1u);
  // A ratio outside what the library converts is its error, reported as such.
  EXPECT_FALSE(SamplerateUtil::convertToMono16k(some, 1, 1));
  EXPECT_EQ(log.count("[SamplerateUtil] [ERROR] src_simple error: "), 1u);
}

}  // namespace
}  // namespace quillon
