#include "recording/audio_factory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <thread>

#include "audio_test_helpers.h"
#include "fakes/fake_recording_capture.h"
#include "recording/pcm16.h"
#include "recording/source_levels.h"

namespace quillon {
namespace {

struct Recording {
  test::TempDir dir;
  std::string wavPath = dir.str() + "/rec.wav";
  std::string opusPath = dir.str() + "/rec.opus";
  test::FakeRecordingCapture mic, speaker;
  std::shared_ptr<AudioFactory> factory;
  std::vector<ByteBuffer> pcm, opus;

  explicit Recording(bool withMic) {
    factory = AudioFactory::create(wavPath, opusPath, withMic, mic, speaker);
    factory->setPcmCallback([this](const ByteBuffer& b) { pcm.push_back(b); });
    factory->setOpusCallback([this](const ByteBuffer& b) { opus.push_back(b); });
  }
};

// The Opus frame file's records: a big-endian 16-bit length, then the packet.
std::vector<std::string> opusRecords(const std::string& file) {
  std::vector<std::string> records;
  for (size_t at = 0; at + 2 <= file.size();) {
    const size_t length = size_t(uint8_t(file[at])) << 8 | uint8_t(file[at + 1]);
    records.push_back(file.substr(at, 2 + length));
    at += 2 + length;
  }
  return records;
}

TEST(AudioFactory, SixteenBitSamplesAreClampedScaledAndTruncatedAndPeaksIgnoreNan) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<std::pair<float, int16_t>> cases = {{1.0f, 32767},   {-1.0f, -32767}, {0.5f, 16383},
                                                        {-0.5f, -16383}, {7.0f, 32767},   {-7.0f, -32767},
                                                        {nan, 0}};
  for (const auto& [in, out] : cases) EXPECT_EQ(floatToPcm16(in), out) << in;
  EXPECT_EQ(blockPeak({}), 0.0f);
  EXPECT_EQ(blockPeak(std::vector<float>{0.2f, nan, -0.7f, 0.3f}), 0.7f);
}

// Without the microphone, blocks keep the system audio's size and are
// gathered into 1280-byte frames; close drops the rest short of a frame.
TEST(AudioFactory, PassThroughBlocksAreGatheredIntoWholeOpusFramesUntilClose) {
  Recording r(false);
  const size_t expectedPackets[] = {0, 1, 2, 2};  // 882, 1764, 2646, 3528 bytes in
  for (size_t packets : expectedPackets) {
    r.speaker.deliver(std::vector<float>(441, 0.25f));
    EXPECT_EQ(r.opus.size(), packets);
    EXPECT_EQ(r.pcm.back().size(), 882u);
  }
  EXPECT_EQ(r.factory->close(), (CloseSummary{0, 0, 44 + 4 * 882}));
  EXPECT_EQ(opusRecords(test::readFile(r.opusPath)).size(), 2u);
  r.speaker.deliver(std::vector<float>(5000, 0.2f));  // after close: nowhere
  EXPECT_EQ(r.pcm.size(), 4u);
  EXPECT_EQ(std::filesystem::file_size(r.wavPath), 44u + 4 * 882);
}

// With the microphone each 40 ms chunk is one 1280-byte PCM block and one packet.
TEST(AudioFactory, TheFilesReachTheSystemEverySecondAndHoldWhatTheCallbacksGot) {
  Recording r(true);
  sourceLevels().microphone = 0.0f;
  sourceLevels().systemAudio = 0.0f;
  // 1.2 s: one second's worth of records and header refresh must be on disk
  // before anything closes, as a killed process would leave them.
  r.mic.deliver(std::vector<float>(19200, -0.5f));
  EXPECT_EQ(sourceLevels().microphone.load(), 0.5f);  // each source sets its own level
  EXPECT_EQ(sourceLevels().systemAudio.load(), 0.0f);
  r.speaker.deliver(std::vector<float>(19200, 1.0f));
  EXPECT_EQ(sourceLevels().systemAudio.load(), 1.0f);
  ASSERT_EQ(r.pcm.size(), 30u);
  for (const auto& block : r.pcm) ASSERT_EQ(block.size(), 1280u);
  EXPECT_EQ(test::recast<int16_t>(r.pcm[3].bytes())[17], floatToPcm16(-0.5f * 0.6f + 0.4f));
  ASSERT_EQ(r.opus.size(), 30u);
  std::string streamed;
  for (const auto& packet : r.opus) streamed.append(packet.bytes().begin(), packet.bytes().end());
  const std::string onDisk = test::readFile(r.opusPath);
  ASSERT_GE(opusRecords(onDisk).size(), 25u);
  EXPECT_EQ(onDisk, streamed.substr(0, onDisk.size()));
  const std::string wav = test::readFile(r.wavPath);
  ASSERT_GE(wav.size(), 44u);
  EXPECT_GE(test::recast<uint32_t>(wav.substr(40, 4))[0], 32000u);  // declared data bytes
  EXPECT_EQ(r.factory->close(), (CloseSummary{0, 1000, 44 + 30 * 1280}));
  EXPECT_EQ(test::readFile(r.opusPath), streamed);
}

// Both captures deliver from their own threads while the callbacks are
// swapped from a third; built with the thread sanitizer this shows races.
TEST(AudioFactory, TwoFeedingThreadsAndCallbackChanges) {
  Recording r(true);
  const size_t samples = 16000 * 4, chunks = samples / 640;
  // Neither thread runs more than half a second ahead of the other, as live
  // captures would not, so every chunk is a real pair and none is filled.
  std::atomic<size_t> fed[2] = {0, 0};
  auto feed = [&](int self, test::FakeRecordingCapture& capture, size_t step) {
    for (size_t at = 0; at < samples; at += step) {
      while (at > fed[1 - self].load() + 8000 && fed[1 - self].load() < samples) std::this_thread::yield();
      capture.deliver(std::vector<float>(std::min(step, samples - at), 0.25f));
      fed[self] = std::min(at + step, samples);
    }
  };
  std::thread micThread(feed, 0, std::ref(r.mic), 333), speakerThread(feed, 1, std::ref(r.speaker), 441);
  std::atomic<size_t> pcmBytes{0};
  for (int i = 0; i < 50; ++i) {
    r.factory->setPcmCallback([&](const ByteBuffer& b) { pcmBytes += b.size(); });
    r.factory->setOpusCallback(i % 2 ? AudioCallback{} : [](const ByteBuffer&) {});
    r.factory->switchMicEnable(true);
  }
  micThread.join();
  speakerThread.join();
  EXPECT_EQ(r.factory->close().size, int32_t(44 + chunks * 1280));
  EXPECT_LE(pcmBytes.load(), chunks * 1280);
  EXPECT_EQ(opusRecords(test::readFile(r.opusPath)).size(), chunks);
}

}  // namespace
}  // namespace quillon
