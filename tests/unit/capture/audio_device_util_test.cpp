#include <gtest/gtest.h>

#include "capture/audio_device_util.h"
#include "capture/black_hole_util.h"
#include "capture/device_util.h"
#include "fakes/fake_audio_server.h"
#include "support/expected_log_lines.h"
#include "support/log_capture.h"
#include "unit/capture/capture_test_support.h"

namespace quillon {
namespace {

class DeviceUtilities : public ::testing::Test {
 protected:
  void TearDown() override { DeviceUtil::setPermissionProvider(nullptr); }

  test::FakeAudioServer server;
  test::LogCapture log;
};

TEST_F(DeviceUtilities, LoopbackIsTheFirstDeviceWithThatExactNameAndEachFailureIsLogged) {
  server.addSink(3, "Speakers");
  server.defaultSink = 3;
  EXPECT_FALSE(BlackHoleUtil::isBlackHoleInstalled(server));
  EXPECT_FALSE(BlackHoleUtil::setOutputDeviceToBlackHole(server));
  EXPECT_TRUE(log.has(test::log_lines::kLoopbackNotFound));

  server.addSink(4, "verdalisrecorder");
  server.addSink(7, "VerdalisRecorder");
  server.addSource(0x80000002, "VerdalisRecorder");
  server.setDefaultStatus = AudioStatus::notSettable;
  EXPECT_FALSE(BlackHoleUtil::setOutputDeviceToBlackHole(server));
  EXPECT_TRUE(log.has(test::log_lines::kLoopbackNotSet));
  EXPECT_EQ(server.defaultSink, 3u);
  server.setDefaultStatus = AudioStatus::ok;
  EXPECT_TRUE(BlackHoleUtil::isBlackHoleInstalled(server));
  EXPECT_TRUE(BlackHoleUtil::setOutputDeviceToBlackHole(server));
  EXPECT_EQ(server.defaultSink, 7u);

  server.listStatus = AudioStatus::serverUnavailable;
  EXPECT_EQ(AudioDeviceUtil::getBlackHoleDeviceID(server), 0u);
  EXPECT_EQ(AudioDeviceUtil::getCurrentOutputDeviceID(server), 0u);
  EXPECT_TRUE(log.has(test::log_lines::kDeviceListFailed));
}

TEST_F(DeviceUtilities, MicrophoneNeedsPermissionAndADefaultSourceWithChannels) {
  server.addSource(0x80000009, "Mic");
  server.defaultSource = 0x80000009;
  EXPECT_TRUE(DeviceUtil::microphoneIsActive(server));  // the default provider authorizes

  using S = MicrophonePermissionState;
  struct Case {
    S state;
    bool grant, active;
    int requests;
  };
  for (const Case& c : {Case{S::notDetermined, false, false, 1}, Case{S::notDetermined, true, true, 1},
                        Case{S::restricted, true, false, 0}, Case{S::denied, true, false, 0}}) {
    auto permission = std::make_shared<test::ScriptedPermission>(c.state, c.grant);
    DeviceUtil::setPermissionProvider(permission);
    EXPECT_EQ(DeviceUtil::microphoneIsActive(server), c.active) << static_cast<int>(c.state) << c.grant;
    EXPECT_EQ(permission->requests, c.requests) << static_cast<int>(c.state) << c.grant;
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
