#include "recording/mono16k_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "audio_test_helpers.h"

namespace quillon {
namespace {

using Format = Mono16kConverter::SampleFormat;

std::vector<uint8_t> stereoFloat(const std::vector<float>& mono) {
  return test::floatBytes(test::interleave({mono, mono}));
}

TEST(Mono16kConverter, AnHourOfIrregularBlocksKeepsTheExactRate) {
  auto converter = Mono16kConverter::create(48000, 2, Format::Float32);
  ASSERT_TRUE(converter);
  const std::vector<size_t> pattern = {1024, 512, 333, 1, 1024, 4096, 441, 7, 960, 2048};
  const std::vector<uint8_t> block = stereoFloat(test::sine(440, 48000, 4096, 0.5));
  const uint64_t hour = 48000ull * 3600;
  uint64_t in = 0, out = 0;
  for (size_t i = 0; in < hour; ++i) {
    const size_t frames = std::min<uint64_t>(pattern[i % pattern.size()], hour - in);
    out += converter->process({block.data(), frames * 8}).size() / 4;
    in += frames;
    // Holds over any stretch, not only at the end.
    if (std::llabs(int64_t(out) - int64_t(in / 3)) > 1) FAIL() << "after " << in << " frames: " << out;
  }
  EXPECT_NEAR(double(out), 57'600'000.0, 1.0);
  EXPECT_EQ(converter->inputFrames(), hour);
  EXPECT_EQ(converter->outputFrames(), out);
}

TEST(Mono16kConverter, ATonePassesBlockEdgesWithoutClicks) {
  auto converter = Mono16kConverter::create(44100, 2, Format::Float32);
  ASSERT_TRUE(converter);
  const double frequency = 1000, amplitude = 0.8;
  const auto tone = test::sine(frequency, 44100, 44100, amplitude);
  const std::vector<uint8_t> bytes = stereoFloat(tone);
  std::vector<float> out;
  const std::vector<size_t> pattern = {1000, 1, 333, 512, 17};
  for (size_t at = 0, i = 0; at < tone.size(); ++i) {
    const size_t frames = std::min(pattern[i % pattern.size()], tone.size() - at);
    const auto chunk = converter->process({bytes.data() + at * 8, frames * 8});
    const auto samples = test::bytesToFloats(chunk);
    out.insert(out.end(), samples.begin(), samples.end());
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
  std::vector<int16_t> pcm;
  for (float v : tone) {
    pcm.push_back(int16_t(v * 32767));
    pcm.push_back(int16_t(-v * 16384));  // the second channel differs
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
  const size_t total = pcm.size() * 2;

  auto whole = Mono16kConverter::create(44100, 2, Format::Int16);
  const auto expected = test::bytesToFloats(whole->process({bytes, total}));

  auto split = Mono16kConverter::create(44100, 2, Format::Int16);
  std::vector<float> got;
  const std::vector<size_t> sizes = {0, 1, 3, 2, 5, 4097, 0, 7, 1023};
  for (size_t at = 0, i = 0; at < total; ++i) {
    const size_t n = std::min(sizes[i % sizes.size()], total - at);
    const auto samples = test::bytesToFloats(split->process({bytes + at, n}));
    got.insert(got.end(), samples.begin(), samples.end());
    at += n;
  }
  ASSERT_NEAR(double(got.size()), double(expected.size()), 1.0);
  for (size_t i = 0; i < std::min(got.size(), expected.size()); ++i) ASSERT_NEAR(got[i], expected[i], 1e-5) << i;
  // 16-bit input is scaled by 1/32768 and down-mixed as (L + R) / 2.
  EXPECT_NEAR(test::toneAmplitude(got, 300, 16000), (32767.0 - 16384.0) / 32768 / 2 * 0.5, 0.01);
}

TEST(Mono16kConverter, RefusesUnusableStreams) {
  EXPECT_FALSE(Mono16kConverter::create(0, 2, Format::Float32));
  EXPECT_FALSE(Mono16kConverter::create(48000, 0, Format::Float32));
  EXPECT_FALSE(Mono16kConverter::create(48000, 9, Format::Int16));
  EXPECT_FALSE(Mono16kConverter::create(10, 1, Format::Int16));  // beyond the library's ratio range
}

}  // namespace
}  // namespace quillon
