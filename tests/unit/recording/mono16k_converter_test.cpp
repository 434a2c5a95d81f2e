#include "recording/mono16k_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "audio_test_helpers.h"

namespace quillon {
namespace {

std::vector<float> stereo(const std::vector<float>& mono) { return test::interleave({mono, mono}); }

TEST(Mono16kConverter, AnHourOfIrregularBlocksKeepsTheExactRate) {
  auto converter = Mono16kConverter::create(48000, 2);
  ASSERT_TRUE(converter);
  const std::vector<size_t> pattern = {1024, 512, 333, 1, 1024, 4096, 441, 7, 960, 2048};
  const std::vector<float> block = stereo(test::sine(440, 48000, 4096, 0.5));
  const uint64_t hour = 48000ull * 3600;
  uint64_t in = 0, out = 0;
  std::vector<float> chunk;
  for (size_t i = 0; in < hour; ++i) {
    const size_t frames = std::min<uint64_t>(pattern[i % pattern.size()], hour - in);
    converter->process({block.data(), frames * 2}, chunk);
    out += chunk.size();
    in += frames;
    // Holds over any stretch, not only at the end.
    if (std::llabs(int64_t(out) - int64_t(in / 3)) > 1) FAIL() << "after " << in << " frames: " << out;
  }
  EXPECT_NEAR(double(out), 57'600'000.0, 1.0);
  EXPECT_EQ(converter->inputFrames(), hour);
  EXPECT_EQ(converter->outputFrames(), out);
}

TEST(Mono16kConverter, ATonePassesBlockEdgesWithoutClicks) {
  auto converter = Mono16kConverter::create(44100, 2);
  ASSERT_TRUE(converter);
  const double frequency = 1000, amplitude = 0.8;
  const auto tone = test::sine(frequency, 44100, 44100, amplitude);
  const std::vector<float> frames2 = stereo(tone);
  std::vector<float> out, chunk;
  const std::vector<size_t> pattern = {1000, 1, 333, 512, 17};
  for (size_t at = 0, i = 0; at < tone.size(); ++i) {
    const size_t frames = std::min(pattern[i % pattern.size()], tone.size() - at);
    converter->process({frames2.data() + at * 2, frames * 2}, chunk);
    out.insert(out.end(), chunk.begin(), chunk.end());
    at += frames;
  }
  // The steepest step the tone itself takes between two 16 kHz samples.
  const double steepest = 2 * amplitude * std::sin(std::numbers::pi * frequency / 16000);
  double worst = 0;
  for (size_t i = 2; i < out.size(); ++i) worst = std::max(worst, double(std::fabs(out[i] - out[i - 1])));
  EXPECT_LE(worst, steepest * 1.01);
  EXPECT_NEAR(test::toneAmplitude(out, frequency, 16000), amplitude, 0.02);
}

TEST(Mono16kConverter, BlocksThatSplitFramesGiveTheSameStreamAsWholeOnes) {
  const auto tone = test::sine(300, 44100, 8820, 0.5);
  std::vector<float> samples;
  for (float v : tone) {
    samples.push_back(v);
    samples.push_back(-v * 0.5f);  // the second channel differs
  }
  const size_t total = samples.size();

  auto whole = Mono16kConverter::create(44100, 2);
  std::vector<float> expected, chunk, got;
  whole->process(samples, expected);

  auto split = Mono16kConverter::create(44100, 2);
  const std::vector<size_t> sizes = {0, 1, 3, 2, 5, 4097, 0, 7, 1023};
  for (size_t at = 0, i = 0; at < total; ++i) {
    const size_t n = std::min(sizes[i % sizes.size()], total - at);
    split->process({samples.data() + at, n}, chunk);
    got.insert(got.end(), chunk.begin(), chunk.end());
    at += n;
  }
  ASSERT_NEAR(double(got.size()), double(expected.size()), 1.0);
  for (size_t i = 0; i < std::min(got.size(), expected.size()); ++i) ASSERT_NEAR(got[i], expected[i], 1e-5) << i;
  // Down-mixed as (L + R) / 2.
  EXPECT_NEAR(test::toneAmplitude(got, 300, 16000), 0.25 * 0.5, 0.01);
}

TEST(Mono16kConverter, RefusesUnusableStreams) {
  EXPECT_FALSE(Mono16kConverter::create(0, 2));
  EXPECT_FALSE(Mono16kConverter::create(48000, 0));
  EXPECT_FALSE(Mono16kConverter::create(48000, 9));
  EXPECT_FALSE(Mono16kConverter::create(10, 1));  // beyond the library's ratio range
}

}  // namespace
}  // namespace quillon
