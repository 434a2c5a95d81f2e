#include <gtest/gtest.h>

#include <cstdlib>

#include "recording/opus_util.h"
#include "recording/sbc_util.h"

#include "audio_test_helpers.h"

namespace quillon {
namespace {

// 40 ms of a tone, from sample `start` on.
std::vector<uint8_t> pcmFrame(size_t start) {
  std::vector<int16_t> out;
  for (float v : test::sine(440, 16000, 640, 0.5, start)) out.push_back(int16_t(v * 32767));
  return test::recast<uint8_t>(out);
}

// Each record is the packet behind its length, big-endian in two bytes. The
// file is the records back to back, on disk after each second of them; after
// reset the encoder works again but nothing more reaches the file.
TEST(OpusUtil, FileHoldsFramedFortyMillisecondPacketsUntilReset) {
  const std::vector<uint8_t> packet(300, 0x5A);
  std::vector<uint8_t> record(302, 0x5A);
  record[0] = 0x01;
  record[1] = 0x2C;
  EXPECT_EQ(OpusUtil::framePacket(packet), record);

  test::TempDir dir;
  const std::string path = dir.str() + "/rec.opus";
  auto opus = OpusUtil::create(16000, 1);
  ASSERT_TRUE(opus && opus->openWithPath(path));
  EXPECT_TRUE(opus->encodeFrame(std::span<const uint8_t>(pcmFrame(0)).first(1278)).empty());
  std::string written;
  for (size_t f = 0; f < 25; ++f) {
    const auto framed = opus->encodeFrame(pcmFrame(f * 640));
    ASSERT_EQ(size_t(framed.at(0)) << 8 | framed.at(1), framed.size() - 2);
    opus->writeFrame(framed);
    written.append(framed.begin(), framed.end());
  }
  EXPECT_EQ(test::readFile(path), written);
  opus->writeFrame({});
  opus->reset();
  const auto again = opus->encodeFrame(pcmFrame(0));
  EXPECT_FALSE(again.empty());
  opus->writeFrame(again);
  opus->close();
  opus->close();
  EXPECT_EQ(test::readFile(path), written);
}

std::string encode(const std::string& path, const std::vector<float>& samples) {
  SbcUtil sbc;
  EXPECT_TRUE(sbc.openWithPath(path));
  sbc.writeSamples(samples);
  sbc.close();
  return test::readFile(path);
}

// No program writes SBC yet: one check of each rule, and a decoder that
// hears the tone (the 127 samples short of a frame are dropped).
TEST(SbcUtil, WholeFramesOf128SamplesBecome72BytesClampedAndAnOutsideDecoderHearsTheTone) {
  ASSERT_EQ(std::system("command -v ffmpeg >/dev/null 2>&1"), 0) << "ffmpeg is missing; run scripts/install-deps.sh";
  test::TempDir dir;
  const std::string sbcPath = dir.str() + "/tone.sbc", rawPath = dir.str() + "/tone.raw";
  EXPECT_EQ(encode(sbcPath, test::sine(1000, 16000, 32000 + 127, 0.5)).size(), 250u * 72u);
  std::vector<float> loud(1280, 2.0f), full(1280, 1.0f);
  loud[640] = -2.0f;
  full[640] = -1.0f;
  EXPECT_EQ(encode(dir.str() + "/a.sbc", loud), encode(dir.str() + "/b.sbc", full));
  EXPECT_FALSE(SbcUtil().openWithPath("/nonexistent/folder/x.sbc"));

  const std::string command = "ffmpeg -v error -y -f sbc -i " + sbcPath + " -f s16le -ac 1 -ar 16000 " + rawPath;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const auto decoded = test::recast<int16_t>(test::readFile(rawPath));
  ASSERT_GT(decoded.size(), 30000u);
  const std::vector<int16_t> middle(decoded.begin() + 4000, decoded.end() - 4000);
  EXPECT_NEAR(test::toneAmplitude(middle, 1000, 16000, 1.0 / 32768), 0.5, 0.1);
  EXPECT_LT(test::toneAmplitude(middle, 1500, 16000, 1.0 / 32768), 0.02);
}

}  // namespace
}  // namespace quillon
