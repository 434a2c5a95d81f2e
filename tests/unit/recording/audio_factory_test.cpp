#include "recording/audio_factory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "audio_test_helpers.h"
#include "fakes/fake_recording_capture.h"
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

// The Opus frame file's records, each a big-endian 16-bit length and the
// packet; none when the last record is cut.
size_t opusRecordCount(const std::string& file) {
  size_t count = 0, at = 0;
  for (; at + 2 <= file.size(); ++count) at += 2 + (size_t(uint8_t(file[at])) << 8 | uint8_t(file[at + 1]));
  return at == file.size() ? count : 0;
}

// Without the microphone, blocks keep the system audio's size and are
// gathered into 1280-byte frames; close drops the rest short of a frame.
TEST(AudioFactory, PassThroughBlocksAreConvertedAndGatheredIntoWholeOpusFramesUntilClose) {
  Recording r(false);
  std::vector<float> block = {1.0f, -1.0f, 0.5f, -0.5f, 7.0f, -7.0f, std::numeric_limits<float>::quiet_NaN()};
  block.resize(441, 0.25f);
  const size_t expectedPackets[] = {0, 1, 2, 2};  // 882, 1764, 2646, 3528 bytes in
  for (size_t packets : expectedPackets) {
    r.speaker.deliver(block);
    EXPECT_EQ(r.opus.size(), packets);
    EXPECT_EQ(r.pcm.back().size(), 882u);
  }
  const auto first = test::recast<int16_t>(r.pcm[0].bytes());
  EXPECT_EQ(std::vector<int16_t>(first.begin(), first.begin() + 8),
            (std::vector<int16_t>{32767, -32767, 16383, -16383, 32767, -32767, 0, 8191}));
  EXPECT_EQ(sourceLevels().systemAudio.load(), 7.0f);  // the NaN after it is no peak
  EXPECT_EQ(r.factory->close(), (CloseSummary{0, 0, 44 + 4 * 882}));
  EXPECT_EQ(opusRecordCount(test::readFile(r.opusPath)), 2u);
  r.speaker.deliver(std::vector<float>(5000, 0.2f));  // after close: nowhere
  EXPECT_EQ(r.pcm.size(), 4u);
  EXPECT_EQ(std::filesystem::file_size(r.wavPath), 44u + 4 * 882);
}

// With the microphone each 40 ms chunk is one 1280-byte PCM block and one
// packet; that the files hold what the callbacks got shows end to end
// (integration.test_recording).
TEST(AudioFactory, MixedChunksReachTheCallbacksAndTheFilesAlike) {
  Recording r(true);
  r.mic.deliver(std::vector<float>(19200, -0.5f));
  r.speaker.deliver(std::vector<float>(19200, 1.0f));
  // Each source sets its own level.
  EXPECT_EQ(std::pair(sourceLevels().microphone.load(), sourceLevels().systemAudio.load()), std::pair(0.5f, 1.0f));
  ASSERT_EQ(r.pcm.size(), 30u);
  EXPECT_EQ(test::recast<int16_t>(r.pcm[3].bytes())[17], 3276);  // (0.6 x -0.5 + 0.4) x 32767, truncated
  EXPECT_EQ(r.opus.size(), 30u);
  EXPECT_EQ(r.factory->close(), (CloseSummary{0, 1000, 44 + 30 * 1280}));
  EXPECT_EQ(opusRecordCount(test::readFile(r.opusPath)), 30u);
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
  EXPECT_EQ(opusRecordCount(test::readFile(r.opusPath)), chunks);
}

}  // namespace
}  // namespace quillon
