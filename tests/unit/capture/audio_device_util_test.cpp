#include <gtest/gtest.h>

#include "capture/audio_device_util.h"
#include "capture/black_hole_util.h"
#include "capture/device_util.h"
#include "fakes/fake_audio_hardware.h"
#include "support/log_capture.h"
#include "fakes/scripted_permission.h"
#include "platform/system_log.h"

namespace quillon {
namespace {

using test::FakeAudioHardware;

class DeviceUtilities : public ::testing::Test {
 protected:
  void SetUp() override {
    AudioHardwareProvider::install(hardware);
    setSystemLogWriter([this](const std::string& line) { systemLines.push_back(line); });
  }
  void TearDown() override {
    AudioHardwareProvider::install(nullptr);
    setSystemLogWriter(nullptr);
    DeviceUtil::setPermissionProvider(nullptr);
  }

  std::shared_ptr<FakeAudioHardware> hardware = std::make_shared<FakeAudioHardware>();
  std::vector<std::string> systemLines;
  test::LogCapture log;
  const AudioStreamBasicDescription stereo = makeLinearPcmFormat(44100, 2, 16, false);
};

// A real server always has a main volume element; only here can it be
// missing, partly settable or absent altogether.
TEST_F(DeviceUtilities, VolumeFallsBackToTheFirstUsableChannelOrIsNone) {
  auto& d = hardware->add(5, "Headset");
  d.volumes[1] = {0.3f, false};  // readable, not settable
  d.volumes[2] = {0.6f, true};
  EXPECT_FLOAT_EQ(AudioDeviceUtil::getDeviceVolume(5, stereo), 0.3f);
  EXPECT_TRUE(AudioDeviceUtil::setDeviceVolume(5, stereo, 0.9f));
  EXPECT_FLOAT_EQ(d.volumes[1].value, 0.3f);
  EXPECT_FLOAT_EQ(d.volumes[2].value, 0.9f);
  // Channels beyond the format's count are never tried.
  EXPECT_FALSE(AudioDeviceUtil::setDeviceVolume(5, makeLinearPcmFormat(44100, 1, 16, false), 0.1f));

  hardware->add(6, "HDMI");
  for (AudioDeviceId device : {6u, 99u}) {
    EXPECT_FLOAT_EQ(AudioDeviceUtil::getDeviceVolume(device, stereo), -1.0f);
    EXPECT_FALSE(AudioDeviceUtil::setDeviceVolume(device, stereo, 0.5f));
  }
}

TEST_F(DeviceUtilities, SampleRateThatDoesNotStickIsRefusedAndBothLinesLogged) {
  auto& d = hardware->add(5, "Speakers");
  d.rateAfterSet = 48000.0;
  EXPECT_FALSE(AudioDeviceUtil::setSampleRate(5, 44100.0));
  ASSERT_EQ(systemLines.size(), 1u);
  EXPECT_EQ(systemLines[0], "[AudioDeviceUtil] Sample rate after set: 48000 (status: 0)");

  d.setRateStatus = AudioStatus::notSettable;
  EXPECT_FALSE(AudioDeviceUtil::setSampleRate(5, 44100.0));
  EXPECT_EQ(systemLines.back(), "[AudioDeviceUtil] Failed to set sample rate to 44100 (status: 3)");
  EXPECT_DOUBLE_EQ(AudioDeviceUtil::getSampleRate(99), 0.0);
}

TEST_F(DeviceUtilities, LoopbackIsTheFirstReadableDeviceWithThatExactName) {
  hardware->add(3, "VerdalisRecorder").nameReadable = false;
  hardware->add(4, "verdalisrecorder");
  hardware->add(7, "VerdalisRecorder");
  hardware->add(8, "VerdalisRecorder");
  EXPECT_EQ(AudioDeviceUtil::getBlackHoleDeviceID(), 7u);
  EXPECT_TRUE(BlackHoleUtil::isBlackHoleInstalled());
  EXPECT_TRUE(BlackHoleUtil::setOutputDeviceToBlackHole());
  EXPECT_EQ(hardware->defaultOutput, 7u);
  EXPECT_TRUE(BlackHoleUtil::isCurrentOutputDeviceBlackHole());
  EXPECT_TRUE(log.has("[blackHoleUtil] [INFO] Current output device: VerdalisRecorder, isBlackHole: YES"));
}

TEST_F(DeviceUtilities, MissingLoopbackOrDeviceListIsLoggedAndAnswersNone) {
  hardware->add(3, "Speakers");
  hardware->defaultOutput = 3;
  EXPECT_EQ(AudioDeviceUtil::getBlackHoleDeviceID(), 0u);
  EXPECT_FALSE(BlackHoleUtil::setOutputDeviceToBlackHole());
  EXPECT_FALSE(BlackHoleUtil::isCurrentOutputDeviceBlackHole());
  EXPECT_EQ(hardware->defaultOutput, 3u);
  hardware->listStatus = AudioStatus::serverUnavailable;
  EXPECT_EQ(AudioDeviceUtil::getBlackHoleDeviceID(), 0u);
  EXPECT_FALSE(AudioDeviceUtil::setOutputDevice(42));
  EXPECT_TRUE(log.has("[audioDeviceUtil] [ERROR] BlackHole device not found"));
  EXPECT_TRUE(log.has("[blackHoleUtil] [ERROR] BlackHole device not found"));
  EXPECT_TRUE(log.has("[audioDeviceUtil] [ERROR] Failed to get devices property size"));
  EXPECT_TRUE(log.has("[audioDeviceUtil] [ERROR] Failed to set output device: 1"));
}

TEST_F(DeviceUtilities, AggregateMarkerIsFoundInsideTheUid) {
  hardware->add(5, "Agg").uid = "x-com.orvane.aggregate.device-1";
  hardware->add(6, "Plain");
  EXPECT_TRUE(AudioDeviceUtil::isAggregateDevice(5));
  EXPECT_FALSE(AudioDeviceUtil::isAggregateDevice(6));
  auto dict = AudioDeviceUtil::createSubDeviceDictionary(6, true);
  EXPECT_EQ(std::get<std::string>(dict["uid"]), "fake:Plain");
  EXPECT_TRUE(std::get<bool>(dict["drift"]));
  EXPECT_EQ(AudioDeviceUtil::createSubDeviceDictionary(99, false).count("uid"), 0u);
}

using test::ScriptedPermission;

TEST_F(DeviceUtilities, MicrophoneNeedsPermissionAndAnInputWithChannels) {
  hardware->add(9, "Mic").inputChannels = {0, 1};
  hardware->defaultInput = 9;
  EXPECT_TRUE(DeviceUtil::microphoneIsActive());  // the default provider authorizes

  using S = MicrophonePermissionState;
  auto refused = std::make_shared<ScriptedPermission>(S::notDetermined, false);
  DeviceUtil::setPermissionProvider(refused);
  EXPECT_FALSE(DeviceUtil::microphoneIsActive());
  EXPECT_EQ(refused->requests, 1);
  DeviceUtil::setPermissionProvider(std::make_shared<ScriptedPermission>(S::notDetermined, true));
  EXPECT_TRUE(DeviceUtil::microphoneIsActive());
  for (S denied : {S::restricted, S::denied}) {
    auto p = std::make_shared<ScriptedPermission>(denied, true);
    DeviceUtil::setPermissionProvider(p);
    EXPECT_FALSE(DeviceUtil::microphoneIsActive());
    EXPECT_EQ(p->requests, 0);
  }

  DeviceUtil::setPermissionProvider(nullptr);
  hardware->deviceTable[9].inputChannels = {0, 0};
  EXPECT_FALSE(DeviceUtil::microphoneIsActive());
}

}  // namespace
}  // namespace quillon
