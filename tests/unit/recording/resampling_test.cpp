#include <gtest/gtest.h>

#include "recording/mono16k_converter.h"

#include "audio_test_helpers.h"

namespace quillon {
namespace {

// Blocks of any size, frames split between them included, give the stream
// one whole block gives: the tone down-mixed as (L + R) / 2, and at every
// block as many frames as the rate says, within one.
TEST(Mono16kConverter, BlocksOfAnySizeGiveOneContinuousDownMixedStreamAtTheExactRate) {
  const auto left = test::sine(1000, 44100, 5 * 44100, 0.8);
  const auto right = test::sine(1000, 44100, 5 * 44100, 0.8 / 3);  // the channels differ
  std::vector<float> samples;
  for (size_t i = 0; i < left.size(); ++i) samples.insert(samples.end(), {left[i], right[i]});

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

}  // namespace
}  // namespace quillon
