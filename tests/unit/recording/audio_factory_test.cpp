#include "recording/audio_factory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "audio_test_helpers.h"
#include "fakes/fake_recording_capture.h"
#include "recording/pcm16.h"

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
  }
  void listen() {
    factory->setPcmCallback([this](const ByteBuffer& b) { pcm.push_back(b); });
    factory->setOpusCallback([this](const ByteBuffer& b) { opus.push_back(b); });
  }
  size_t opusFileSize() const { return std::filesystem::file_size(opusPath); }
};

// The data length the WAV header declares, as a reader would see it now.
uint32_t wavDeclaredBytes(const std::string& path) {
  const std::string bytes = test::readFile(path);
  uint32_t length = 0;
  if (bytes.size() >= 44) std::memcpy(&length, bytes.data() + 40, sizeof length);
  return length;
}

std::vector<std::string> opusRecords(const std::string& file) {
  std::vector<std::string> records;
  for (size_t at = 0; at + 2 <= file.size();) {
    const size_t length = size_t(uint8_t(file[at])) << 8 | uint8_t(file[at + 1]);
    records.push_back(file.substr(at, 2 + length));
    at += 2 + length;
  }
  return records;
}

TEST(AudioFactory, FloatTo16BitClampsScalesAndTruncates) {
  EXPECT_EQ(floatToPcm16(1.0f), 32767);
  EXPECT_EQ(floatToPcm16(-1.0f), -32767);
  EXPECT_EQ(floatToPcm16(0.5f), 16383);
  EXPECT_EQ(floatToPcm16(-0.5f), -16383);
  EXPECT_EQ(floatToPcm16(7.0f), 32767);
  EXPECT_EQ(floatToPcm16(-7.0f), -32767);
  EXPECT_EQ(floatToPcm16(std::numeric_limits<float>::quiet_NaN()), 0);
}

TEST(AudioFactory, WithTheMicrophoneEachChunkIsOne1280BytePcmBlockAndOnePacket) {
  Recording r(true);
  r.listen();
  r.mic.deliver(std::vector<float>(6400, 0.5f));
  r.speaker.deliver(std::vector<float>(9600, 1.0f));
  ASSERT_EQ(r.pcm.size(), 10u);
  for (const auto& block : r.pcm) ASSERT_EQ(block.size(), 1280u);
  EXPECT_EQ(test::bytesToInt16(std::string(r.pcm[3].bytes().begin(), r.pcm[3].bytes().end()))[17],
            floatToPcm16(0.5f * 0.6f + 0.4f));
  EXPECT_EQ(r.opus.size(), 10u);
  EXPECT_EQ(r.factory->pendingOpusBytes(), 0u);
  const CloseSummary summary = r.factory->close();
  EXPECT_EQ(summary, (CloseSummary{0, 0, 44 + 12800}));
}

TEST(AudioFactory, PassThroughBlocksAreGatheredIntoWholeOpusFrames) {
  Recording r(false);
  r.listen();
  const std::vector<float> block(441, 0.25f);
  const size_t expectedPending[] = {882, 484, 86, 968};  // 1764 and 1366 before a frame leaves
  const size_t expectedPackets[] = {0, 1, 2, 2};
  for (int i = 0; i < 4; ++i) {
    r.speaker.deliver(block);
    EXPECT_EQ(r.factory->pendingOpusBytes(), expectedPending[i]) << i;
    EXPECT_EQ(r.opus.size(), expectedPackets[i]) << i;
    EXPECT_EQ(r.pcm.back().size(), 882u);
  }
}

TEST(AudioFactory, TheFilesReachTheSystemEverySecondAndHoldWhatTheCallbacksGot) {
  Recording r(true);
  r.listen();
  // 1.2 s: one second's worth of records and header refresh must be on disk
  // before anything closes, as a killed process would leave them.
  r.mic.deliver(std::vector<float>(19200, 0.1f));
  r.speaker.deliver(std::vector<float>(19200, 0.1f));
  ASSERT_EQ(r.opus.size(), 30u);
  std::string streamed;
  for (const auto& packet : r.opus) streamed.append(packet.bytes().begin(), packet.bytes().end());
  const std::string onDisk = test::readFile(r.opusPath);
  ASSERT_GE(opusRecords(onDisk).size(), 25u);
  EXPECT_EQ(onDisk, streamed.substr(0, onDisk.size()));
  EXPECT_GE(wavDeclaredBytes(r.wavPath), 32000u);

  r.factory->close();
  EXPECT_EQ(test::readFile(r.opusPath), streamed);
}

TEST(AudioFactory, CloseDropsLessThanOneFrameAndLaterBlocksGoNowhere) {
  test::LogCapture log;
  Recording r(false);
  r.listen();
  r.speaker.deliver(std::vector<float>(500, 0.2f));
  const CloseSummary summary = r.factory->close();
  EXPECT_EQ(summary, (CloseSummary{0, 0, 44 + 1000}));
  EXPECT_EQ(r.opusFileSize(), 0u);
  r.speaker.deliver(std::vector<float>(5000, 0.2f));
  EXPECT_EQ(r.pcm.size(), 1u);
  EXPECT_EQ(std::filesystem::file_size(r.wavPath), 1044u);
  EXPECT_EQ(log.count("[audio_factory] [INFO] Initializing AudioFactory with wavPath=" + r.wavPath +
                      ", opusPath=" + r.opusPath),
            1u);
  EXPECT_EQ(log.count("[audio_factory] [INFO] Closing AudioFactory and releasing resources"), 1u);
}

// Both captures deliver from their own threads while the callbacks are
// swapped from a third; built with the thread sanitizer this shows races.
TEST(AudioFactory, TwoFeedingThreadsAndCallbackChanges) {
  Recording r(true);
  std::atomic<size_t> pcmBytes{0};
  const size_t samples = 16000 * 4;
  // Neither thread runs more than half a second ahead of the other, as live
  // captures would not, so every chunk is a real pair and none is filled.
  std::atomic<size_t> fed[2] = {0, 0};
  auto feed = [&](int self, test::FakeRecordingCapture& capture, float value, size_t step) {
    for (size_t at = 0; at < samples; at += step) {
      while (at > fed[1 - self].load() + 8000 && fed[1 - self].load() < samples) std::this_thread::yield();
      capture.deliver(std::vector<float>(std::min(step, samples - at), value));
      fed[self] = std::min(at + step, samples);
    }
  };
  std::thread micThread(feed, 0, std::ref(r.mic), 0.5f, 333);
  std::thread speakerThread(feed, 1, std::ref(r.speaker), 0.25f, 441);
  for (int i = 0; i < 50; ++i) {
    r.factory->setPcmCallback([&](const ByteBuffer& b) { pcmBytes += b.size(); });
    r.factory->setOpusCallback(i % 2 ? AudioCallback{} : [](const ByteBuffer&) {});
    r.factory->switchMicEnable(true);
  }
  micThread.join();
  speakerThread.join();
  const CloseSummary summary = r.factory->close();
  const size_t chunks = samples / 640;
  EXPECT_EQ(summary.size, int32_t(44 + chunks * 1280));
  EXPECT_LE(pcmBytes.load(), chunks * 1280);
  EXPECT_EQ(opusRecords(test::readFile(r.opusPath)).size(), chunks);
}

}  // namespace
}  // namespace quillon
