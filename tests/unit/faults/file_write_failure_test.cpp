// A WAV or Opus frame file that cannot grow any further (a full disk, simulated with a
// file-size limit on this process) must stay valid, the WAV's summary honest.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <numeric>

#include "recording/opus_util.h"
#include "recording/wav_util.h"
#include "unit/recording/audio_test_helpers.h"

namespace quillon {
namespace {

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

// Both files of a recording on one disk that fills up.
TEST(WriteFailure, WavCutBackToWhatReachedTheDiskAndOpusToWholeRecords) {
  test::TempDir dir;
  const std::string wavPath = dir.str() + "/full.wav", opusPath = dir.str() + "/full.opus";
  // Samples counting up, so any sample on disk tells where it came from.
  std::vector<int16_t> samples(128000);  // 256 000 bytes offered
  std::iota(samples.begin(), samples.end(), int16_t(0));
  OpusUtil opus;
  ASSERT_TRUE(opus.openWithPath(opusPath));
  std::string fitting;
  CloseSummary summary;
  {
    FileSizeLimit limit(100001);  // odd: the last frame that fits is cut in half
    WavUtil wav(wavPath, 16000, 1, 16);
    for (size_t at = 0; at < samples.size(); at += 640) wav.writeSamples(samples.data() + at, 640);
    summary = wav.close();
    for (int i = 0; i < 1000; ++i) {  // 990 records of 101 bytes fit, the 991st is cut
      const auto record = OpusUtil::framePacket(std::vector<uint8_t>(99, uint8_t(i)));
      opus.writeFrame(record);
      if (i < 990) fitting.append(record.begin(), record.end());
    }
  }
  opus.writeFrame(OpusUtil::framePacket(std::vector<uint8_t>(99, 0)));  // after the failure: dropped
  opus.close();
  EXPECT_EQ(test::readFile(opusPath), fitting);

  const std::string bytes = test::readFile(wavPath);
  const uint32_t data = test::u32At(bytes, 40);
  ASSERT_GE(data, 32000u);
  EXPECT_EQ(bytes.size(), 44 + data);
  EXPECT_EQ(data % 2, 0u);  // whole frames only
  EXPECT_EQ(test::u32At(bytes, 4), data + 36);
  EXPECT_EQ(summary, (CloseSummary{-1, int32_t(data / 32000 * 1000), int32_t(bytes.size())}));
  EXPECT_EQ(bytes.substr(44), test::bytesOf(std::vector<int16_t>(samples.begin(), samples.begin() + data / 2)));
}

}  // namespace
}  // namespace quillon
