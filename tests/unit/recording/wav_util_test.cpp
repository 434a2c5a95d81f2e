#include "recording/wav_util.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include "audio_test_helpers.h"
#include "recording/audio_util.h"
#include "platform/system_log.h"

namespace quillon {
namespace {

std::vector<int16_t> ramp16(size_t count) {
  std::vector<int16_t> out(count);
  for (size_t i = 0; i < count; ++i) out[i] = int16_t(int(i * 7) % 65536 - 32768);
  return out;
}

// Writes in 40 ms blocks, as the recording does.
void writeInBlocks(WavUtil& wav, const std::vector<int16_t>& samples, size_t block = 640) {
  for (size_t at = 0; at < samples.size(); at += block) {
    wav.writeSamples(samples.data() + at, std::min(block, samples.size() - at));
  }
}

uint32_t u32At(const std::string& bytes, size_t offset) {
  uint32_t v;
  std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}

std::vector<int16_t> readWithSndfile(const std::string& path, SF_INFO* info) {
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, info);
  if (file == nullptr) {
    ADD_FAILURE() << "libsndfile cannot open " << path << ": " << sf_strerror(nullptr);
    return {};
  }
  std::vector<int16_t> samples(static_cast<size_t>(info->frames * info->channels));
  sf_read_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(file);
  return samples;
}

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
  ASSERT_EQ(bytes.size(), 32044u);
  const uint8_t header[44] = {'R', 'I', 'F', 'F', 0x24, 0x7D, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                              16, 0, 0, 0, 1, 0, 1, 0, 0x80, 0x3E, 0, 0, 0x00, 0x7D, 0, 0,
                              2, 0, 16, 0, 'd', 'a', 't', 'a', 0x00, 0x7D, 0, 0};
  EXPECT_EQ(bytes.substr(0, 44), std::string(reinterpret_cast<const char*>(header), 44));
  SF_INFO info{};
  EXPECT_EQ(readWithSndfile(path, &info), samples);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_EQ(wav.close(), (CloseSummary{-1, 0, 0}));  // a second close has no file
}

TEST(WavUtil, DurationCountsWholeSecondsAndEmptyFilesAreJustAHeader) {
  test::TempDir dir;
  WavUtil almostThree(dir.str() + "/a.wav", 16000, 1, 16);
  writeInBlocks(almostThree, ramp16(47999));
  EXPECT_EQ(almostThree.close(), (CloseSummary{0, 2000, 44 + 95998}));

  WavUtil empty(dir.str() + "/e.wav", 16000, 1, 16);
  EXPECT_EQ(empty.close(), (CloseSummary{0, 0, 44}));
  const std::string bytes = test::readFile(dir.str() + "/e.wav");
  EXPECT_EQ(u32At(bytes, 4), 36u);
  EXPECT_EQ(u32At(bytes, 40), 0u);

  WavUtil floats(dir.str() + "/f.wav", 48000, 2, 32);
  floats.close();
  const std::string header = test::readFile(dir.str() + "/f.wav");
  EXPECT_EQ(header[20], 3);                     // IEEE float format code
  EXPECT_EQ(u32At(header, 28), 48000u * 8);     // byte rate
  EXPECT_EQ(header[32], 8);                     // block align
}

TEST(WavUtil, AFileThatCannotBeCreatedIsLoggedAndIgnored) {
  test::LogCapture log;
  test::TempDir dir;
  const std::string path = dir.str() + "/missing/x.wav";
  WavUtil wav(path, 16000, 1, 16);
  const auto samples = ramp16(100);
  wav.writeSamples(samples.data(), samples.size());
  EXPECT_FALSE(wav.isOpen());
  EXPECT_EQ(wav.close(), (CloseSummary{-1, 0, 0}));
  EXPECT_EQ(log.count("[WavUtil] [ERROR] Failed to create WAV file: " + path), 1u);
}

// A recording process that dies leaves a file that opens and holds everything
// but the last second.
TEST(WavUtil, AKilledWriterLeavesAPlayableFile) {
  test::TempDir dir;
  const std::string path = dir.str() + "/killed.wav";
  const auto samples = ramp16(16000 * 7 / 2);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    WavUtil wav(path, 16000, 1, 16);
    writeInBlocks(wav, samples);
    _exit(0);  // no close, no destructor, no stdio flush
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  SF_INFO info{};
  const auto read = readWithSndfile(path, &info);
  EXPECT_GE(read.size(), samples.size() - 16000);
  ASSERT_LE(read.size(), samples.size());
  EXPECT_TRUE(std::equal(read.begin(), read.end(), samples.begin()));
}

TEST(WavUtil, StopsAppendingBeforeTheSizeFieldsOverflow) {
  const uint32_t limit = WavUtil::maxDataLength(2);
  EXPECT_LE(uint64_t(limit) + 36, uint64_t(UINT32_MAX));
  EXPECT_GT(uint64_t(limit) + 36, uint64_t(UINT32_MAX) - 4);
  EXPECT_EQ(limit % 4, 0u);

  // The same rule with a small ceiling, to see it act.
  test::LogCapture log;
  test::TempDir dir;
  const std::string path = dir.str() + "/full.wav";
  WavUtil wav(path, 16000, 2, 16, 1002);
  const auto samples = ramp16(1000);
  writeInBlocks(wav, samples, 300);
  EXPECT_EQ(wav.dataLength(), 1000u);
  const CloseSummary summary = wav.close();
  EXPECT_EQ(summary.size, 1044);
  EXPECT_EQ(log.count("[WavUtil] [ERROR] WAV file full"), 1u);
  SF_INFO info{};
  const auto read = readWithSndfile(path, &info);
  EXPECT_EQ(read, std::vector<int16_t>(samples.begin(), samples.begin() + 500));
}

TEST(AudioUtil, DurationOfWrittenMissingAndOtherFiles) {
  std::vector<std::string> lines;
  setSystemLogWriter([&](const std::string& line) { lines.push_back(line); });
  test::TempDir dir;
  const std::string wavPath = dir.str() + "/rec.wav";
  {
    WavUtil wav(wavPath, 16000, 1, 16);
    writeInBlocks(wav, ramp16(47999));
    wav.close();
  }
  EXPECT_EQ(AudioUtil::getWavDuration(wavPath), 2999);
  EXPECT_EQ(AudioUtil::getWavDuration(dir.str() + "/none.wav"), -1);

  const std::string sox = test::requireTool("sox");
  const std::string flac = dir.str() + "/tone.flac";
  ASSERT_EQ(std::system((sox + " -n -r 22050 -c 1 " + flac + " synth 1.5 sine 440 2>/dev/null").c_str()), 0);
  EXPECT_EQ(AudioUtil::getWavDuration(flac), 1500);

  const std::string text = dir.str() + "/notes.wav";
  std::FILE* f = std::fopen(text.c_str(), "w");
  std::fputs("not audio at all", f);
  std::fclose(f);
  EXPECT_EQ(AudioUtil::getWavDuration(text), -1);
  setSystemLogWriter(nullptr);

  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "[AudioUtil] Duration for " + wavPath + ": 2999 ms");
  EXPECT_EQ(lines[1], "[AudioUtil] File not found at path: " + dir.str() + "/none.wav");
  EXPECT_EQ(lines[3], "[AudioUtil] Failed to get duration for: " + text);
}

}  // namespace
}  // namespace quillon
