#include "recording/wav_util.h"

#include <gtest/gtest.h>

#include <filesystem>
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

uint32_t u32At(const std::string& bytes, size_t offset) { return test::recast<uint32_t>(bytes.substr(offset, 4))[0]; }

TEST(WavUtil, OneSecondGivesTheExactHeaderAndSummary) {
  test::TempDir dir;
  const std::string path = dir.str() + "/one.wav";
  WavUtil wav(path, 16000, 1, 16);
  const auto samples = ramp16(16000);
  writeInBlocks(wav, samples, 441);
  wav.writeSamples(nullptr, 10);
  wav.writeSamples(samples.data(), 0);
  EXPECT_EQ(wav.close(), (CloseSummary{0, 1000, 32044}));

  const std::string bytes = test::readFile(path);
  const uint8_t header[44] = {'R', 'I', 'F', 'F', 0x24, 0x7D, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                              16, 0, 0, 0, 1, 0, 1, 0, 0x80, 0x3E, 0, 0, 0x00, 0x7D, 0, 0,
                              2, 0, 16, 0, 'd', 'a', 't', 'a', 0x00, 0x7D, 0, 0};
  EXPECT_EQ(bytes.substr(0, 44), std::string(reinterpret_cast<const char*>(header), 44));
  EXPECT_EQ(test::recast<int16_t>(bytes.substr(44)), samples);
  EXPECT_EQ(wav.close(), (CloseSummary{-1, 0, 0}));  // a second close has no file
}

// The close summary counts whole seconds, the reader milliseconds.
TEST(WavUtil, DurationCountsWholeSecondsAndOtherFormatsFillTheirFields) {
  test::TempDir dir;
  WavUtil almostThree(dir.str() + "/a.wav", 16000, 1, 16);
  writeInBlocks(almostThree, ramp16(47999));
  EXPECT_EQ(almostThree.close(), (CloseSummary{0, 2000, 44 + 95998}));
  EXPECT_EQ(AudioUtil::getWavDuration(dir.str() + "/a.wav"), 2999);
  std::ofstream(dir.str() + "/notes.wav") << "not audio at all";
  EXPECT_EQ(AudioUtil::getWavDuration(dir.str() + "/notes.wav"), -1);

  WavUtil empty(dir.str() + "/e.wav", 16000, 1, 16);
  EXPECT_EQ(empty.close(), (CloseSummary{0, 0, 44}));

  WavUtil floats(dir.str() + "/f.wav", 48000, 2, 32);
  floats.close();
  const std::string header = test::readFile(dir.str() + "/f.wav");
  EXPECT_EQ(header[20], 3);                  // IEEE float format code
  EXPECT_EQ(header[22], 2);                  // channels
  EXPECT_EQ(u32At(header, 24), 48000u);      // sample rate
  EXPECT_EQ(u32At(header, 28), 48000u * 8);  // byte rate
  EXPECT_EQ(header[32], 8);                  // block align
  EXPECT_EQ(header[34], 32);                 // bits per sample
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
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(log.count("[WavUtil] [ERROR] Failed to create WAV file: " + missing), 1u);

  const uint32_t limit = WavUtil::maxDataLength(2);
  EXPECT_LE(uint64_t(limit) + 36, uint64_t(UINT32_MAX));
  EXPECT_GT(uint64_t(limit) + 36, uint64_t(UINT32_MAX) - 4);
  EXPECT_EQ(limit % 4, 0u);
  // The same rule with a small ceiling, to see it act: whole stereo frames only.
  const std::string path = dir.str() + "/full.wav";
  WavUtil wav(path, 16000, 2, 16, 1002);
  writeInBlocks(wav, samples, 300);
  EXPECT_EQ(wav.close().size, 1044);
  EXPECT_EQ(log.count("[WavUtil] [ERROR] WAV file full"), 1u);
  const std::string bytes = test::readFile(path);
  EXPECT_EQ(u32At(bytes, 40), 1000u);
  EXPECT_EQ(test::recast<int16_t>(bytes.substr(44)), std::vector<int16_t>(samples.begin(), samples.begin() + 500));
}

}  // namespace
}  // namespace quillon
