#include <gtest/gtest.h>

#include <thread>

#include "channel_test_support.h"
#include "support/expected_log_lines.h"

// A whole recording through the host, its files and its stream to the engine
// are checked end to end (integration.test_recording); these are the channel's
// own answers and the way buffers reach the engine.
namespace quillon {
namespace {

using test::expectError;
using test::map;
using test::successValue;

constexpr const char* kAudio = "native_audio_factory";

struct AudioWindow : test::WindowFixture {
  std::optional<MethodReply> call(const std::string& method, EncodableValue args = {}) {
    return messenger.call(kAudio, method, std::move(args));
  }
};

EncodableValue summary(int32_t success, int32_t duration, int32_t size) {
  return map({{"success", success}, {"duration", duration}, {"size", size}});
}

EncodableMap startArgs(const test::TempDir& dir, bool mic) {
  return map({{"recorderMic", mic},
              {"recorderPath", dir.str()},
              {"wavFilePath", (dir.path() / "r.wav").string()},
              {"opusFilePath", (dir.path() / "r.opus").string()}});
}

TEST(AudioChannel, FallbacksWithoutAFacadeAndArgumentErrorsChangeNothing) {
  test::LogCapture log;
  AudioWindow w;
  test::TempDir dir;
  for (const char* method : {"startRecorder", "switchMicRecorder", "pauseRecorder", "resumeRecorder"}) {
    EXPECT_EQ(successValue(w.call(method, startArgs(dir, true))), EncodableValue(false)) << method;
  }
  EXPECT_EQ(successValue(w.call("stopRecorder")), summary(-1, 0, 0));
  EXPECT_EQ(log.count(std::string(test::log_lines::kStopRecorder)), 1u);
  expectError(w.call("init", map({{"blackHolePath", "/d.pa"}})), "INVALID_ARGS", "Missing paths");
  expectError(w.call("init", map({{"blackHolePath", 7}, {"reserveStageAudio", true}})), "INVALID_ARGS",
              "Missing paths");
  EXPECT_EQ(w.window->nativeAudioFactory(), nullptr);

  ASSERT_EQ(successValue(w.call("init", map({{"blackHolePath", "/d.pa"}, {"reserveStageAudio", false}}))),
            EncodableValue(true));
  for (const auto& [key, value] : std::vector<std::pair<const char*, EncodableValue>>{
           {"opusFilePath", EncodableValue()}, {"recorderMic", "yes"}}) {
    auto args = startArgs(dir, true);
    args[EncodableValue(key)] = value;
    expectError(w.call("startRecorder", args), "INVALID_ARGUMENTS", "缺少参数");
  }
  EXPECT_TRUE(w.world.captures.journal->events().empty());
  // A bad switch argument is no error, just false; the facade is not asked.
  EXPECT_EQ(successValue(w.call("switchMicRecorder", map({{"recorderMic", 1}}))), EncodableValue(false));
  EXPECT_TRUE(w.window->nativeAudioFactory()->isMicRecordingEnabled);

  // The duration itself is AudioUtil's (recording.AudioUtil), a missing file's
  // answer is checked end to end (integration.test_host_spine).
  expectError(w.call("getWavDuration", map({{"file", "/x.wav"}})), "INVALID_ARGUMENTS", "Missing 'path'");
}

TEST(AudioChannel, ARecordingStreamsItsBuffersThroughTheMainThreadInOrder) {
  AudioWindow w;
  test::TempDir dir;
  ASSERT_EQ(successValue(w.call("init", map({{"blackHolePath", "/d.pa"}, {"reserveStageAudio", true}}))),
            EncodableValue(true));
  EXPECT_TRUE(w.world.installCalls.empty());
  ASSERT_EQ(successValue(w.call("startRecorder", startArgs(dir, false))), EncodableValue(true));
  EXPECT_EQ(w.world.captures.journal->count("speaker.start(stage=1,path=" + dir.str() + ")"), 1u);

  auto speaker = w.world.captures.lastSpeaker;
  std::thread audioThread([&] {
    for (float level : {0.1f, 0.2f, 0.3f}) speaker->deliver(test::constantBlock(level));
  });
  audioThread.join();
  // Nothing is sent from the audio thread itself.
  EXPECT_TRUE(w.messenger.sent().empty());
  w.runPosted();

  const auto sent = w.messenger.sent();
  ASSERT_EQ(sent.size(), 6u);  // one PCM block and one Opus packet per 40 ms block
  std::vector<int16_t> firstSamples;
  for (size_t i = 0; i < sent.size(); i += 2) {
    EXPECT_EQ(sent[i].call.method, "onPcmData");
    EXPECT_EQ(sent[i + 1].call.method, "onOpusData");
    EXPECT_FALSE(sent[i].wantsReply);
    const auto* bytes = sent[i].call.arguments.asBytes();
    ASSERT_NE(bytes, nullptr);
    ASSERT_EQ(bytes->size(), 1280u);
    firstSamples.push_back(static_cast<int16_t>((*bytes)[0] | ((*bytes)[1] << 8)));
  }
  EXPECT_EQ(firstSamples, (std::vector<int16_t>{3276, 6553, 9830}));

  EXPECT_EQ(successValue(w.call("stopRecorder")), summary(0, 0, 44 + 3 * 1280));
}

}  // namespace
}  // namespace quillon
