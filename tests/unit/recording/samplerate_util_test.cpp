#include "recording/samplerate_util.h"

#include <gtest/gtest.h>

#include "audio_test_helpers.h"

namespace quillon {
namespace {

using test::bytesToFloats;

using test::interleave;
using test::floatBytes;

TEST(SamplerateUtil, CapacityAndLengthFor48kStereoAnd16kMono) {
  EXPECT_EQ(SamplerateUtil::outputCapacity(960, 16000.0 / 48000), 321);
  EXPECT_EQ(SamplerateUtil::outputCapacity(160, 1.0), 161);

  const auto tone = test::sine(440, 48000, 960, 0.5);
  auto stereo = SamplerateUtil::convertToMono16k(floatBytes(interleave({tone, tone})), 48000, 2);
  ASSERT_TRUE(stereo);
  EXPECT_NEAR(double(stereo->size() / 4), 320.0, 1.0);

  const auto mono = test::sine(300, 16000, 160, 0.5);
  auto same = SamplerateUtil::convertToMono16k(floatBytes(mono), 16000, 1);
  ASSERT_TRUE(same);
  const auto out = bytesToFloats(*same);
  ASSERT_GE(out.size(), 160u);
  ASSERT_LE(out.size(), 161u);
  // At ratio 1 the linear converter hands the input back one sample late,
  // starting from silence.
  EXPECT_EQ(out[0], 0.0f);
  for (size_t i = 0; i + 1 < 160; ++i) ASSERT_NEAR(out[i + 1], mono[i], 1e-6) << i;
}

TEST(SamplerateUtil, DownMixAveragesTwoChannelsClampsAndIgnoresTheRest) {
  const size_t n = 320;
  auto convert = [](const std::vector<float>& interleaved, int channels) {
    return bytesToFloats(SamplerateUtil::convertToMono16k(floatBytes(interleaved), 16000, channels).value());
  };
  const auto averaged = convert(interleave({std::vector<float>(n, 0.9f), std::vector<float>(n, 0.9f)}), 2);
  const auto clamped = convert(interleave({std::vector<float>(n, 1.5f), std::vector<float>(n, 1.5f)}), 2);
  const auto unclamped = convert(std::vector<float>(n, 1.5f), 1);
  EXPECT_NEAR(averaged[n / 2], 0.9f, 1e-6);
  EXPECT_NEAR(clamped[n / 2], 1.0f, 1e-6);
  EXPECT_NEAR(unclamped[n / 2], 1.5f, 1e-6);

  const auto left = test::sine(200, 16000, n, 0.3), right = test::sine(700, 16000, n, 0.3);
  const auto quiet = convert(interleave({left, right, std::vector<float>(n, 0.0f)}), 3);
  const auto loud = convert(interleave({left, right, test::sine(900, 16000, n, 1.0)}), 3);
  EXPECT_EQ(quiet, loud);
  EXPECT_NE(quiet, convert(interleave({left, right}), 1));  // not the same as reading it wrongly
}

TEST(SamplerateUtil, InvalidInputIsLoggedAndAnswersNothing) {
  test::LogCapture log;
  const std::vector<uint8_t> some(64, 0);
  EXPECT_FALSE(SamplerateUtil::convertToMono16k(some, 48000, 0));
  EXPECT_FALSE(SamplerateUtil::convertToMono16k(some, 48000, 9));
  EXPECT_FALSE(SamplerateUtil::convertToMono16k(some, 0, 1));
  EXPECT_FALSE(SamplerateUtil::convertToMono16k(some, -44100, 2));
  EXPECT_FALSE(SamplerateUtil::convertToMono16k({}, 48000, 2));
  EXPECT_FALSE(SamplerateUtil::convertToStereo16k({}, 48000, 2));
  EXPECT_EQ(log.count("[SamplerateUtil] [ERROR] Invalid input for convertToMono16kFloat."), 5u);
  EXPECT_EQ(log.count("[SamplerateUtil] [ERROR] Invalid input for convertToStereo16k."), 1u);

  // A ratio outside what the library converts is its error, reported as such.
  EXPECT_FALSE(SamplerateUtil::convertToMono16k(some, 1, 1));
  EXPECT_EQ(log.count("[SamplerateUtil] [ERROR] src_simple error: "), 1u);
}

TEST(SamplerateUtil, PartialSamplesAndFramesAreIgnored) {
  const float one = 0.25f;
  std::vector<uint8_t> sixBytes(6, 0xEE);
  std::memcpy(sixBytes.data(), &one, 4);
  const auto single = SamplerateUtil::convertToMono16k(sixBytes, 16000, 1).value();
  const auto fourBytes = SamplerateUtil::convertToMono16k({sixBytes.data(), 4}, 16000, 1).value();
  ASSERT_FALSE(single.empty());
  EXPECT_LE(single.size(), 8u);
  EXPECT_EQ(single, fourBytes);
  // Less than one whole stereo frame: nothing to convert, but not an error.
  auto none = SamplerateUtil::convertToMono16k(std::vector<uint8_t>(4, 0), 16000, 2);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

}  // namespace
}  // namespace quillon
