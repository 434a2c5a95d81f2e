#include "recording/wav_util.h"

#include <gtest/gtest.h>

#include <fstream>

#include "audio_test_helpers.h"
#include "recording/audio_util.h"

namespace quillon {
namespace {

std::vector<int16_t> ramp16(size_t count) {
  std::vector<int16_t> out(count);
  for (size_t i = 0; i < count; ++i) out[i] = int16_t(int(i * 7) % 65536 - 32768);
  return out;
}

// Writes in blocks, 40 ms unless told, as the recording does.
void writeInBlocks(WavUtil& wav, const std::vector<int16_t>& samples, size_t block = 640) {
  for (size_t at = 0; at < samples.size(); at += block) {
    wav.writeSamples(samples.data() + at, std::min(block, samples.size() - at));
  }
}

// After a second of audio the size fields are rewritten on disk, so a killed
// process leaves the same file that close does; other formats fill their fields.
TEST(WavUtil, HeaderSizesAndDurationBeforeAndAfterClose) {
  test::TempDir dir;
  const std::string path = dir.str() + "/one.wav";
  WavUtil wav(path, 16000, 1, 16);
  const auto samples = ramp16(16000);
  writeInBlocks(wav, samples, 441);
  const uint8_t header[44] = {'R', 'I', 'F', 'F', 0x24, 0x7D, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                              16, 0, 0, 0, 1, 0, 1, 0, 0x80, 0x3E, 0, 0, 0x00, 0x7D, 0, 0,
                              2, 0, 16, 0, 'd', 'a', 't', 'a', 0x00, 0x7D, 0, 0};
  const std::string expected = std::string(reinterpret_cast<const char*>(header), 44) + test::bytesOf(samples);
  EXPECT_EQ(test::readFile(path), expected);
  EXPECT_EQ(wav.close(), (CloseSummary{0, 1000, 32044}));
  EXPECT_EQ(test::readFile(path), expected);

  // The close summary counts whole seconds, the reader (through the header
  // close completes) milliseconds.
  WavUtil almostThree(dir.str() + "/a.wav", 16000, 1, 16);
  writeInBlocks(almostThree, ramp16(47999));
  EXPECT_EQ(almostThree.close(), (CloseSummary{0, 2000, 44 + 95998}));
  EXPECT_EQ(AudioUtil::getWavDuration(dir.str() + "/a.wav"), 2999);
  std::ofstream(dir.str() + "/notes.wav") << "not audio at all";
  EXPECT_EQ(AudioUtil::getWavDuration(dir.str() + "/notes.wav"), -1);

  WavUtil(dir.str() + "/f.wav", 48000, 2, 32).close();
  // Float format code 3, 2 channels, 48000 Hz, 384000 bytes a second, frames of 8 bytes, 32 bits.
  EXPECT_EQ(test::readFile(dir.str() + "/f.wav").substr(20, 16),
            std::string("\3\0\2\0\x80\xBB\0\0\0\xDC\5\0\x08\0\x20\0", 16));
}

// A file that cannot be created or can take no more is logged; what was
// written stays valid.
TEST(WavUtil, AFileThatCannotBeCreatedIsIgnoredAndAppendingStopsBeforeTheSizeFieldsOverflow) {
  test::LogCapture log;
  test::TempDir dir;
  const std::string missing = dir.str() + "/missing/x.wav";
  WavUtil nowhere(missing, 16000, 1, 16);
  const auto samples = ramp16(1000);
  nowhere.writeSamples(samples.data(), samples.size());
  EXPECT_EQ(nowhere.close(), (CloseSummary{-1, 0, 0}));
  EXPECT_EQ(log.count("[WavUtil] [ERROR] Failed to create WAV file: " + missing), 1u);

  // The RIFF size (data + 36) must fit 32 bits, in whole stereo frames.
  EXPECT_EQ(WavUtil::maxDataLength(2), 0xFFFFFFD8u);
  // The same rule with a small ceiling, to see it act.
  const std::string path = dir.str() + "/full.wav";
  WavUtil wav(path, 16000, 2, 16, 1002);
  writeInBlocks(wav, samples, 300);
  EXPECT_EQ(wav.close().size, 1044);
  EXPECT_EQ(log.count("[WavUtil] [ERROR] WAV file full"), 1u);
  const std::string bytes = test::readFile(path);
  EXPECT_EQ(test::u32At(bytes, 40), 1000u);
  EXPECT_EQ(bytes.substr(44), test::bytesOf(std::vector<int16_t>(samples.begin(), samples.begin() + 500)));
}

}  // namespace
}  // namespace quillon
