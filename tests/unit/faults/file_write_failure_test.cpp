// A WAV or Opus frame file that cannot grow any further (a full disk, simulated with a
// file-size limit on this process) must stay valid, the WAV's summary honest.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/opus_util.h"
#include "recording/wav_util.h"
#include "unit/recording/audio_test_helpers.h"

namespace quillon {
namespace {

uint32_t u32At(const std::string& bytes, size_t offset) { return test::recast<uint32_t>(bytes.substr(offset, 4))[0]; }

// Lowers this process's file-size limit while it lives. A write beyond it then
// fails with EFBIG; the signal it would also raise stays ignored in this
// executable, whose tests all want that.
struct FileSizeLimit {
  rlimit previous{};
  explicit FileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit lowered = previous;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &previous); }
};

TEST(WavWriteFailure, FileCutBackToWhatReachedTheDiskAndCloseSaysSo) {
  test::TempDir dir;
  const std::string path = dir.str() + "/full.wav";
  // Samples counting up, so any sample on disk tells where it came from.
  std::vector<int16_t> block(640);
  CloseSummary summary;
  {
    FileSizeLimit limit(100001);  // odd: the last frame that fits is cut in half
    WavUtil wav(path, 16000, 1, 16);
    int16_t next = 0;
    for (int i = 0; i < 200; ++i) {  // 256 000 bytes offered
      for (auto& s : block) s = next++;
      wav.writeSamples(block.data(), block.size());
    }
    summary = wav.close();
  }
  const std::string bytes = test::readFile(path);
  ASSERT_GE(bytes.size(), 44u + 32000u);
  EXPECT_EQ(bytes.size() % 2, 0u);  // whole frames only
  const uint32_t data = u32At(bytes, 40);
  EXPECT_EQ(data, bytes.size() - 44);
  EXPECT_EQ(u32At(bytes, 4), data + 36);
  EXPECT_EQ(summary, (CloseSummary{-1, int32_t(data / 32000 * 1000), int32_t(bytes.size())}));
  const auto samples = test::recast<int16_t>(bytes.substr(44));
  for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(samples[i], int16_t(i)) << "sample " << i;
}

TEST(OpusWriteFailure, FrameFileKeepsWholeRecordsOnly) {
  test::TempDir dir;
  const std::string path = dir.str() + "/full.opus";
  OpusUtil opus;
  ASSERT_TRUE(opus.openWithPath(path));
  std::vector<uint8_t> packet(99);
  {
    FileSizeLimit limit(10000);  // 99 records of 101 bytes fit, the 100th is cut
    for (int i = 0; i < 150; ++i) {
      packet[0] = uint8_t(i);
      opus.writeFrame(OpusUtil::framePacket(packet));
    }
  }
  opus.writeFrame(OpusUtil::framePacket(packet));  // after the failure: dropped
  opus.close();
  const std::string bytes = test::readFile(path);
  ASSERT_EQ(bytes.size(), 99u * 101u);
  for (size_t i = 0; i < 99; ++i) {
    packet[0] = uint8_t(i);
    ASSERT_EQ(bytes.substr(i * 101, 101), std::string("\0\x63", 2) + std::string(packet.begin(), packet.end())) << i;
  }
}

}  // namespace
}  // namespace quillon
