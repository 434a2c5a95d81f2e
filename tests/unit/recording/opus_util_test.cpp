#include "recording/opus_util.h"

#include <gtest/gtest.h>

#include "audio_test_helpers.h"

namespace quillon {
namespace {

std::vector<uint8_t> pcmFrame(size_t samples, double frequency, size_t start = 0) {
  const auto tone = test::sine(frequency, 16000, samples, 0.5, start);
  std::vector<uint8_t> out(samples * 2);
  for (size_t i = 0; i < samples; ++i) {
    const int16_t v = int16_t(tone[i] * 32767);
    std::memcpy(out.data() + 2 * i, &v, 2);
  }
  return out;
}

TEST(OpusUtil, EncodesExactlyOneFortyMillisecondFrameBehindItsBigEndianLength) {
  auto opus = OpusUtil::create(16000, 1);
  ASSERT_TRUE(opus);
  EXPECT_EQ(opus->frameSize(), 640);
  EXPECT_TRUE(opus->encodeFrame(pcmFrame(639, 440)).empty());
  EXPECT_TRUE(opus->encodeFrame(pcmFrame(641, 440)).empty());
  const auto framed = opus->encodeFrame(pcmFrame(640, 440));
  ASSERT_GT(framed.size(), 2u);
  EXPECT_EQ(size_t(framed[0]) << 8 | framed[1], framed.size() - 2);
  EXPECT_EQ(OpusUtil::create(48000, 1)->frameSize(), 1920);
  OpusUtil idle;  // no encoder until reset
  EXPECT_TRUE(idle.encodeFrame(pcmFrame(640, 440)).empty());

  std::vector<uint8_t> packet(300);
  for (size_t i = 0; i < packet.size(); ++i) packet[i] = uint8_t(i * 31);
  const auto record = OpusUtil::framePacket(packet);
  ASSERT_EQ(record.size(), 302u);
  EXPECT_EQ(record[0], 0x01);
  EXPECT_EQ(record[1], 0x2C);
  EXPECT_TRUE(std::equal(packet.begin(), packet.end(), record.begin() + 2));

  test::LogCapture log;
  EXPECT_FALSE(OpusUtil::create(12345, 1));
  EXPECT_EQ(log.count("[OpusUtil] [ERROR] Failed to create Opus encoder: invalid argument"), 1u);
}

// The file is the records back to back; after reset the encoder works again
// but nothing more reaches the file.
TEST(OpusUtil, FileHoldsTheRecordsAndResetEndsIt) {
  test::TempDir dir;
  const std::string path = dir.str() + "/rec.opus";
  auto opus = OpusUtil::create(16000, 1);
  ASSERT_TRUE(opus->openWithPath(path));
  std::vector<uint8_t> written;
  for (size_t f = 0; f < 25; ++f) {
    const auto framed = opus->encodeFrame(pcmFrame(640, 440, f * 640));
    opus->writeFrame(framed);
    written.insert(written.end(), framed.begin(), framed.end());
  }
  opus->writeFrame({});
  opus->reset();
  const auto again = opus->encodeFrame(pcmFrame(640, 440));
  EXPECT_FALSE(again.empty());
  opus->writeFrame(again);
  opus->close();
  opus->close();

  const std::string file = test::readFile(path);
  ASSERT_EQ(file, std::string(written.begin(), written.end()));
}

}  // namespace
}  // namespace quillon
