#include <gtest/gtest.h>

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
  opus->reset();
  const auto again = opus->encodeFrame(pcmFrame(0));
  EXPECT_FALSE(again.empty());
  opus->writeFrame(again);
  opus->close();
  EXPECT_EQ(test::readFile(path), written);
}

// No program writes SBC yet; its frames are the documented format all the
// same: whole frames of 128 samples become 72 bytes an outside decoder plays.
TEST(SbcUtil, WholeFramesOf128SamplesBecome72BytesAnOutsideDecoderHears) {
  ASSERT_EQ(std::system("command -v ffmpeg >/dev/null 2>&1"), 0) << "ffmpeg is missing; run scripts/install-deps.sh";
  test::TempDir dir;
  const std::string sbcPath = dir.str() + "/tone.sbc", rawPath = dir.str() + "/tone.raw";
  SbcUtil sbc;
  ASSERT_TRUE(sbc.openWithPath(sbcPath));
  sbc.writeSamples(test::sine(1000, 16000, 32000 + 127, 0.5));
  sbc.close();
  EXPECT_EQ(test::readFile(sbcPath).size(), 250u * 72u);
  const std::string command = "ffmpeg -v error -y -f sbc -i " + sbcPath + " -f f32le -ac 1 -ar 16000 " + rawPath;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const auto decoded = test::recast<float>(test::readFile(rawPath));
  ASSERT_GT(decoded.size(), 30000u);
  EXPECT_NEAR(test::toneAmplitude({decoded.begin() + 4000, decoded.end() - 4000}, 1000, 16000), 0.5, 0.1);
}

}  // namespace
}  // namespace quillon
