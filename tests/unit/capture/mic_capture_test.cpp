#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "capture/mic_capture.h"
#include "fakes/fake_audio_server.h"
#include "support/expected_log_lines.h"
#include "support/log_capture.h"
#include "unit/capture/capture_test_support.h"

namespace quillon {
namespace {

using S = MicrophonePermissionState;
constexpr AudioDeviceId kMic = 0x80000001, kStudioMic = 0x80000002;

class MicCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server->addSink(1, "Speakers");
    server->addSource(kMic, "VirtualMic");
    server->defaultSink = 1;
    server->defaultSource = kMic;
  }

  test::LogCapture log;
  test::TempDir folder;
  std::shared_ptr<test::FakeAudioServer> server = std::make_shared<test::FakeAudioServer>();
};

TEST_F(MicCaptureTest, EveryCapturedFrameReachesTheStageFilesAndTheCallbackWithoutDrift) {
  std::vector<float> collected;
  auto asked = std::make_shared<test::ScriptedPermission>(S::notDetermined, true);
  MicCapture mic(server, asked);
  mic.setAudioCallback(test::collectInto(collected));
  ASSERT_TRUE(mic.startCapture(true, folder.str()));
  EXPECT_EQ(asked->requests, 1);  // granted

  size_t frames = 0;
  auto capture = [&](size_t n) {
    const std::vector<uint8_t> period(2 * n, 0x21);
    frames += n;
    return server->pushInput(period.data(), period.size());
  };
  // Periods of uneven length, as a server hands them over.
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(capture(700 + 97 * (i % 5)));
  // Paused, the stream is corked; resumed, it delivers again.
  mic.pause();
  EXPECT_TRUE(server->recordPaused);
  mic.resume();
  ASSERT_TRUE(capture(960));

  mic.stopCapture();
  mic.stopCapture();
  EXPECT_FALSE(mic.isRunning());
  EXPECT_FALSE(server->pushInput(nullptr, 2));  // the stream is gone
  // Every delivered sample is in mic.wav, and the delivered count follows the
  // captured frames exactly at 16000 / 48000: converting each period on its
  // own would run ahead by about one sample a period.
  EXPECT_EQ(test::wavDataLength(folder.str() + "/mic_original.wav"), frames * 2);
  EXPECT_EQ(test::wavDataLength(folder.str() + "/mic.wav"), collected.size() * 2);
  EXPECT_NEAR(static_cast<double>(collected.size()), frames / 3.0, 2.0);
}

TEST_F(MicCaptureTest, NoMicrophoneNoPermissionOrNoStreamRefusesToStartAndLeavesNoFiles) {
  // A server that offers only a monitor names no default source.
  server->defaultSource = kNoAudioDevice;
  MicCapture noMic(server);
  EXPECT_FALSE(noMic.startCapture(true, folder.str()));
  EXPECT_FALSE(noMic.isRunning());
  server->defaultSource = kMic;

  auto denied = std::make_shared<test::ScriptedPermission>(S::denied, true);
  EXPECT_FALSE(MicCapture(server, denied).startCapture(false, folder.str()));
  EXPECT_EQ(denied->requests, 0);
  auto refused = std::make_shared<test::ScriptedPermission>(S::notDetermined, false);
  EXPECT_FALSE(MicCapture(server, refused).startCapture(false, folder.str()));
  EXPECT_EQ(refused->requests, 1);

  server->recordStatus = AudioStatus::serverUnavailable;
  EXPECT_FALSE(MicCapture(server).startCapture(true, folder.str()));

  for (auto line : {test::log_lines::kNoDefaultInput, test::log_lines::kMicDenied, test::log_lines::kMicRefused,
                    test::log_lines::kMicStreamFailed}) {
    EXPECT_TRUE(log.has(line)) << line;
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST_F(MicCaptureTest, A24BitDeviceIsRecordedAsFloatAtItsOwnRateAndChannels) {
  server->addSource(kStudioMic, "StudioMic", 2, 96000.0, 24);
  server->defaultSource = kStudioMic;
  MicCapture mic(server);
  ASSERT_TRUE(mic.startCapture(false, folder.str()));
  EXPECT_EQ(server->recordDevice, kStudioMic);
  const auto& f = server->recordFormat;
  EXPECT_EQ(std::tuple(f.mFormatFlags & kAudioFormatFlagIsFloat, f.mBitsPerChannel, f.mChannelsPerFrame, f.mSampleRate),
            std::tuple(kAudioFormatFlagIsFloat, 32u, 2u, 96000.0));
}

}  // namespace
}  // namespace quillon
