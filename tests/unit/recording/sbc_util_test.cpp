#include "recording/sbc_util.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "audio_test_helpers.h"
#include "platform/system_log.h"

namespace quillon {
namespace {

std::string encode(const std::vector<float>& samples) {
  test::TempDir dir;
  SbcUtil sbc;
  EXPECT_TRUE(sbc.openWithPath(dir.str() + "/out.sbc"));
  sbc.writeSamples(samples);
  sbc.close();
  return test::readFile(dir.str() + "/out.sbc");
}

std::vector<float> square(float level) {
  std::vector<float> out(1280);
  for (size_t i = 0; i < out.size(); ++i) out[i] = (i / 20) % 2 ? level : -level;
  return out;
}

TEST(SbcUtil, EveryWholeFrameOf128SamplesBecomes72BytesAndValuesAreClamped) {
  EXPECT_EQ(encode(test::sine(440, 16000, 128, 0.5)).size(), 72u);
  EXPECT_EQ(encode(test::sine(440, 16000, 127, 0.5)).size(), 0u);
  EXPECT_EQ(encode(test::sine(440, 16000, 300, 0.5)).size(), 144u);
  const std::string clamped = encode(square(2.0f));
  EXPECT_EQ(clamped.size(), 720u);
  EXPECT_EQ(clamped, encode(square(1.0f)));
  EXPECT_NE(clamped, encode(square(0.5f)));
}

TEST(SbcUtil, RefusesUnusablePathsAndWritesNothingBeforeOpening) {
  std::vector<std::string> lines;
  setSystemLogWriter([&](const std::string& line) { lines.push_back(line); });
  test::TempDir dir;
  SbcUtil sbc;
  sbc.writeSamples(test::sine(440, 16000, 256, 0.5));
  EXPECT_FALSE(sbc.openWithPath(""));
  const std::string missing = dir.str() + "/no/such/folder/x.sbc";
  EXPECT_FALSE(sbc.openWithPath(missing));
  EXPECT_FALSE(sbc.opened());
  setSystemLogWriter(nullptr);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[SbcUtil] Cannot write to path: " + missing);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(SbcUtil, AnOutsideDecoderHearsTheTone) {
  const std::string ffmpeg = test::requireTool("ffmpeg");
  ASSERT_FALSE(ffmpeg.empty());
  test::TempDir dir;
  const std::string sbcPath = dir.str() + "/tone.sbc", rawPath = dir.str() + "/tone.raw";
  {
    SbcUtil sbc;
    ASSERT_TRUE(sbc.openWithPath(sbcPath));
    for (size_t second = 0; second < 2; ++second) sbc.writeSamples(test::sine(1000, 16000, 16000, 0.5, second * 16000));
  }
  const std::string command = ffmpeg + " -v error -y -f sbc -i " + sbcPath + " -f s16le -ac 1 -ar 16000 " + rawPath;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const auto decoded = test::bytesToInt16(test::readFile(rawPath));
  ASSERT_GT(decoded.size(), 30000u);
  const std::vector<int16_t> middle(decoded.begin() + 4000, decoded.end() - 4000);
  EXPECT_NEAR(test::toneAmplitude(middle, 1000, 16000, 1.0 / 32768), 0.5, 0.1);
  EXPECT_LT(test::toneAmplitude(middle, 1500, 16000, 1.0 / 32768), 0.02);
  EXPECT_LT(test::toneAmplitude(middle, 600, 16000, 1.0 / 32768), 0.02);
}

}  // namespace
}  // namespace quillon
