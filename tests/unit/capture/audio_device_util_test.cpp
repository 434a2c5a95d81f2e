#include <gtest/gtest.h>

#include "capture/audio_device_util.h"
#include "capture/black_hole_util.h"
#include "capture/device_util.h"
#include "fakes/fake_audio_server.h"
#include "fakes/scripted_permission.h"
#include "support/expected_log_lines.h"
#include "support/log_capture.h"

namespace quillon {
namespace {

class DeviceUtilities : public ::testing::Test {
 protected:
  void TearDown() override { DeviceUtil::setPermissionProvider(nullptr); }

  test::FakeAudioServer server;
  test::LogCapture log;
  const AudioStreamBasicDescription stereo = makeLinearPcmFormat(44100, 2, 16, false);
};

TEST_F(DeviceUtilities, SinkVolumeReadsTheLoudestChannelAndAWriteSetsEveryChannel) {
  server.addSink(5, "Headset").volumes = {0.3f, 0.6f};
  EXPECT_FLOAT_EQ(AudioDeviceUtil::getDeviceVolume(server, 5, stereo), 0.6f);
  EXPECT_TRUE(AudioDeviceUtil::setDeviceVolume(server, 5, stereo, 0.9f));
  EXPECT_EQ(server.device(5)->volumes, (std::vector<float>{0.9f, 0.9f}));
  EXPECT_FALSE(AudioDeviceUtil::setDeviceVolume(server, 5, stereo, -0.1f));

  // A source has no output volume; an unknown device none at all.
  server.addSource(0x80000001, "Mic");
  for (AudioDeviceId device : {0x80000001u, 99u}) {
    EXPECT_FLOAT_EQ(AudioDeviceUtil::getDeviceVolume(server, device, stereo), -1.0f);
    EXPECT_FALSE(AudioDeviceUtil::setDeviceVolume(server, device, stereo, 0.5f));
  }
}

TEST_F(DeviceUtilities, SampleRateIsTheDevicesOwnAndADifferentOneIsRefused) {
  server.addSink(5, "Speakers", 1.0f, 2, 48000.0);
  EXPECT_DOUBLE_EQ(AudioDeviceUtil::getSampleRate(server, 5), 48000.0);
  EXPECT_TRUE(AudioDeviceUtil::setSampleRate(server, 5, 48000.4));
  EXPECT_FALSE(AudioDeviceUtil::setSampleRate(server, 5, 44100.0));
  EXPECT_FALSE(AudioDeviceUtil::setSampleRate(server, 99, 44100.0));
  EXPECT_DOUBLE_EQ(AudioDeviceUtil::getSampleRate(server, 99), 0.0);
}

TEST_F(DeviceUtilities, LoopbackIsTheFirstDeviceWithThatExactName) {
  server.addSink(4, "verdalisrecorder");
  server.addSink(7, "VerdalisRecorder");
  server.addSource(0x80000002, "VerdalisRecorder");
  server.addSink(3, "Speakers");
  server.defaultSink = 3;
  EXPECT_FALSE(BlackHoleUtil::isCurrentOutputDeviceBlackHole(server));
  EXPECT_EQ(AudioDeviceUtil::getBlackHoleDeviceID(server), 7u);
  EXPECT_TRUE(BlackHoleUtil::isBlackHoleInstalled(server));
  EXPECT_TRUE(BlackHoleUtil::setOutputDeviceToBlackHole(server));
  EXPECT_EQ(server.defaultSink, 7u);
  EXPECT_EQ(AudioDeviceUtil::getCurrentOutputDeviceID(server), 7u);
  EXPECT_TRUE(BlackHoleUtil::isCurrentOutputDeviceBlackHole(server));
}

TEST_F(DeviceUtilities, MissingLoopbackOrServerIsLoggedAndAnswersNone) {
  server.addSink(3, "Speakers");
  server.defaultSink = 3;
  EXPECT_EQ(AudioDeviceUtil::getBlackHoleDeviceID(server), 0u);
  EXPECT_FALSE(BlackHoleUtil::setOutputDeviceToBlackHole(server));
  EXPECT_EQ(server.defaultSink, 3u);
  EXPECT_TRUE(log.has(test::log_lines::kLoopbackNotFound));

  server.addSink(7, "VerdalisRecorder");
  server.setDefaultStatus = AudioStatus::notSettable;
  EXPECT_FALSE(BlackHoleUtil::setOutputDeviceToBlackHole(server));
  EXPECT_FALSE(AudioDeviceUtil::setOutputDevice(server, 7));
  EXPECT_TRUE(log.has(test::log_lines::kLoopbackNotSet));

  server.listStatus = AudioStatus::serverUnavailable;
  EXPECT_EQ(AudioDeviceUtil::getBlackHoleDeviceID(server), 0u);
  EXPECT_EQ(AudioDeviceUtil::getCurrentOutputDeviceID(server), 0u);
  EXPECT_FALSE(BlackHoleUtil::isCurrentOutputDeviceBlackHole(server));
  EXPECT_TRUE(log.has(test::log_lines::kDeviceListFailed));
}

using test::ScriptedPermission;

TEST_F(DeviceUtilities, MicrophoneNeedsPermissionAndADefaultSourceWithChannels) {
  server.addSource(0x80000009, "Mic");
  server.defaultSource = 0x80000009;
  EXPECT_TRUE(DeviceUtil::microphoneIsActive(server));  // the default provider authorizes

  using S = MicrophonePermissionState;
  auto refused = std::make_shared<ScriptedPermission>(S::notDetermined, false);
  DeviceUtil::setPermissionProvider(refused);
  EXPECT_FALSE(DeviceUtil::microphoneIsActive(server));
  EXPECT_EQ(refused->requests, 1);
  DeviceUtil::setPermissionProvider(std::make_shared<ScriptedPermission>(S::notDetermined, true));
  EXPECT_TRUE(DeviceUtil::microphoneIsActive(server));
  for (S denied : {S::restricted, S::denied}) {
    auto p = std::make_shared<ScriptedPermission>(denied, true);
    DeviceUtil::setPermissionProvider(p);
    EXPECT_FALSE(DeviceUtil::microphoneIsActive(server));
    EXPECT_EQ(p->requests, 0);
  }

  DeviceUtil::setPermissionProvider(nullptr);
  server.device(0x80000009)->channels = 0;
  EXPECT_FALSE(DeviceUtil::microphoneIsActive(server));
  // A server offering only a monitor names no default source: no microphone.
  server.defaultSource = kNoAudioDevice;
  server.device(0x80000009)->channels = 1;
  EXPECT_FALSE(DeviceUtil::microphoneIsActive(server));
}

}  // namespace
}  // namespace quillon
