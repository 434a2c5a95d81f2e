#include <gtest/gtest.h>

#include <filesystem>

#include "capture/mic_capture.h"
#include "support/log_capture.h"
#include "fakes/scripted_permission.h"
#include "unit/pulse/pulse_daemon.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using test::ScriptedPermission;

class MicCaptureTest : public ::testing::Test {
 protected:
  void startServer(test::PulseDaemon::Options options = {}) {
    daemon = std::make_unique<test::PulseDaemon>(options);
    ASSERT_TRUE(daemon->start()) << daemon->log();
    hardware = daemon->connect();
  }
  test::LogCapture log;
  test::TempDir folder;
  std::unique_ptr<test::PulseDaemon> daemon;
  std::shared_ptr<AudioHardware> hardware;
};

TEST_F(MicCaptureTest, AToneArrivesAsMono16kWithoutDriftAndInTheStageFiles) {
  startServer();
  test::MicFeeder feeder(*daemon, 440.0, 0.5);
  test::SampleCollector collected;
  MicCapture mic(hardware, std::make_shared<AlwaysAuthorizedMicrophonePermission>());
  mic.setAudioCallback(collected.callback());
  ASSERT_TRUE(mic.startCapture(true, folder.str()));
  EXPECT_TRUE(mic.isRunning());
  EXPECT_TRUE(mic.startCapture(true, folder.str()));  // already running

  ASSERT_TRUE(test::waitFor([&] { return collected.count() >= 32000; })) << collected.count();
  const auto heard = collected.samples();
  // Skip the first quarter second, where the pipe may still have been filling.
  EXPECT_NEAR(test::toneFrequency(heard, 4000, 16000, 16000.0), 440.0, 2.0);
  EXPECT_NEAR(test::peakOf(heard, 4000, 16000), 0.5f, 0.05f);

  // Paused: nothing arrives; resumed: the tone comes back.
  ASSERT_TRUE(mic.pauseCapture());
  EXPECT_FALSE(mic.pauseCapture());
  const size_t atPause = collected.count();
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(collected.count(), atPause);
  ASSERT_TRUE(mic.resumeCapture());
  EXPECT_TRUE(test::waitFor([&] { return collected.count() >= atPause + 8000; }));

  mic.stopCapture();
  mic.stopCapture();
  EXPECT_FALSE(mic.isRunning());
  const size_t delivered = collected.count();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(collected.count(), delivered);

  const auto original = test::readWavHeader(folder.str() + "/mic_original.wav");
  const auto converted = test::readWavHeader(folder.str() + "/mic.wav");
  EXPECT_EQ(original.rate, 48000u);
  EXPECT_EQ(converted.rate, 16000u);
  // Every delivered sample is in mic.wav, and the delivered count follows the
  // captured frames exactly at 16000 / 48000: converting each period on its
  // own would run ahead by about one sample a period.
  const uint64_t inputFrames = original.dataLength / 2;
  EXPECT_EQ(converted.dataLength / 2, delivered);
  EXPECT_NEAR(static_cast<double>(delivered), inputFrames / 3.0, 2.0) << "input frames " << inputFrames;

  for (const char* line : {"[MicCapture] [INFO] Device format: sampleRate=48000.0, bits=16, channels=1, flags=0xc",
                           "[MicCapture] [INFO] Audio queue started successfully",
                           "[MicCapture] [INFO] Audio queue stopped and disposed"}) {
    EXPECT_TRUE(log.has(line)) << line;
  }
}

TEST_F(MicCaptureTest, NoMicrophoneOrNoPermissionRefusesToStart) {
  // Without a microphone the server's default input is a monitor: no device.
  startServer({.loopbackSink = true, .microphone = false});
  MicCapture noMic(hardware, std::make_shared<AlwaysAuthorizedMicrophonePermission>());
  EXPECT_FALSE(noMic.startCapture(true, folder.str()));
  EXPECT_FALSE(noMic.isRunning());
  noMic.stopCapture();
  EXPECT_FALSE(noMic.pauseCapture());

  using S = MicrophonePermissionState;
  auto denied = std::make_shared<ScriptedPermission>(S::denied, true);
  MicCapture deniedMic(hardware, denied);
  EXPECT_FALSE(deniedMic.startCapture(false, folder.str()));
  EXPECT_EQ(denied->requests, 0);
  auto refused = std::make_shared<ScriptedPermission>(S::notDetermined, false);
  MicCapture refusedMic(hardware, refused);
  EXPECT_FALSE(refusedMic.startCapture(false, folder.str()));
  EXPECT_EQ(refused->requests, 1);

  for (const char* line : {"[MicCapture] [WARNING] Failed to get default input device",
                           "[MicCapture] [INFO] Mic access status: 2",
                           "[MicCapture] [WARNING] [Permission] Microphone denied or restricted",
                           "[MicCapture] [INFO] [Permission] User response: denied"}) {
    EXPECT_TRUE(log.has(line)) << line;
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST_F(MicCaptureTest, AGrantedFirstRequestRecordsTheChosenDeviceWithoutStageFiles) {
  startServer();
  test::MicFeeder feeder(*daemon, 1000.0, 0.25);
  auto asked = std::make_shared<ScriptedPermission>(MicrophonePermissionState::notDetermined, true);
  MicCapture mic(hardware, asked);
  EXPECT_FALSE(mic.setInputDevice("NoSuchMic"));
  ASSERT_TRUE(mic.setInputDevice("VirtualMic"));
  test::SampleCollector collected;
  mic.setAudioCallback(collected.callback());
  ASSERT_TRUE(mic.startCapture(false, folder.str()));
  EXPECT_EQ(asked->requests, 1);
  ASSERT_TRUE(test::waitFor([&] { return collected.count() >= 16000; }));
  EXPECT_NEAR(test::toneFrequency(collected.samples(), 4000, 8000, 16000.0), 1000.0, 5.0);
  mic.stopCapture();
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

}  // namespace
}  // namespace quillon
