#include <gtest/gtest.h>

#include "capture/audio_device_util.h"
#include "capture/black_hole_util.h"
#include "capture/device_util.h"
#include "platform/pulse/pulse_device_ids.h"
#include "pulse_daemon.h"

namespace quillon {
namespace {

using test::PulseDaemon;

// Devices of a live private server, through the class-level utilities.
class RealServer : public ::testing::Test {
 protected:
  void startServer(PulseDaemon::Options options = {}) {
    daemon = std::make_unique<PulseDaemon>(options);
    ASSERT_TRUE(daemon->start()) << daemon->log();
    hardware = daemon->connect();
    AudioHardwareProvider::install(hardware);
  }
  void TearDown() override {
    AudioHardwareProvider::install(nullptr);
    hardware.reset();
    daemon.reset();
  }
  AudioDeviceId idOf(const std::string& name) { return test::idOf(*hardware, name); }

  std::unique_ptr<PulseDaemon> daemon;
  std::shared_ptr<PulseAudioHardware> hardware;
  const AudioStreamBasicDescription stereo = makeLinearPcmFormat(44100, 2, 16, false);
};

TEST_F(RealServer, ListsSinksAndMicrophoneButNoMonitors) {
  startServer();
  std::vector<AudioDeviceId> ids;
  ASSERT_EQ(hardware->devices(ids), AudioStatus::ok);
  std::vector<std::string> names;
  for (AudioDeviceId id : ids) {
    std::string name;
    ASSERT_EQ(hardware->deviceName(id, name), AudioStatus::ok);
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Speakers", "VerdalisRecorder", "VirtualMic"}));
  // Sink and source identifiers never collide.
  EXPECT_EQ(ids[0] & kPulseSourceIdFlag, 0u);
  EXPECT_NE(ids[2] & kPulseSourceIdFlag, 0u);
  std::vector<uint32_t> channels;
  ASSERT_EQ(hardware->inputStreamConfiguration(ids[1], channels), AudioStatus::ok);
  EXPECT_EQ(channels, std::vector<uint32_t>{2});  // a sink's input side is its monitor
}

TEST_F(RealServer, OutputSwitchRateAndVolumeOfLiveDevices) {
  startServer();
  const AudioDeviceId speakers = idOf("Speakers");
  const AudioDeviceId loopback = AudioDeviceUtil::getBlackHoleDeviceID();
  const AudioDeviceId mic = idOf("VirtualMic");
  ASSERT_NE(loopback, kNoAudioDevice);
  EXPECT_EQ(loopback, idOf("VerdalisRecorder"));
  EXPECT_EQ(AudioDeviceUtil::getCurrentOutputDeviceID(), speakers);
  EXPECT_TRUE(BlackHoleUtil::isBlackHoleInstalled());
  EXPECT_FALSE(BlackHoleUtil::isCurrentOutputDeviceBlackHole());
  EXPECT_TRUE(BlackHoleUtil::setOutputDeviceToBlackHole());
  EXPECT_TRUE(BlackHoleUtil::isCurrentOutputDeviceBlackHole());
  EXPECT_EQ(AudioDeviceUtil::getCurrentOutputDeviceID(), loopback);
  EXPECT_TRUE(AudioDeviceUtil::setOutputDevice(speakers));
  EXPECT_EQ(AudioDeviceUtil::getCurrentOutputDeviceID(), speakers);
  // A source cannot be the output; an unknown identifier is no device.
  EXPECT_FALSE(AudioDeviceUtil::setOutputDevice(mic));
  EXPECT_FALSE(AudioDeviceUtil::setOutputDevice(0x1234));
  EXPECT_EQ(AudioDeviceUtil::getCurrentOutputDeviceID(), speakers);

  // Only an achieved rate counts as set.
  EXPECT_DOUBLE_EQ(AudioDeviceUtil::getSampleRate(loopback), 44100.0);
  EXPECT_TRUE(AudioDeviceUtil::setSampleRate(loopback, 44100.0));
  EXPECT_FALSE(AudioDeviceUtil::setSampleRate(loopback, 48000.0));
  EXPECT_DOUBLE_EQ(AudioDeviceUtil::getSampleRate(mic), 48000.0);
  EXPECT_DOUBLE_EQ(AudioDeviceUtil::getSampleRate(0x1234), 0.0);

  // Volume on the whole device (element 0) and per channel.
  EXPECT_TRUE(AudioDeviceUtil::setDeviceVolume(speakers, stereo, 0.5f));
  EXPECT_NEAR(AudioDeviceUtil::getDeviceVolume(speakers, stereo), 0.5f, 0.001f);
  ASSERT_EQ(hardware->setOutputVolume(speakers, 2, 0.25f), AudioStatus::ok);
  float left = 0, right = 0, whole = 0;
  ASSERT_EQ(hardware->outputVolume(speakers, 1, left), AudioStatus::ok);
  ASSERT_EQ(hardware->outputVolume(speakers, 2, right), AudioStatus::ok);
  ASSERT_EQ(hardware->outputVolume(speakers, 0, whole), AudioStatus::ok);
  EXPECT_NEAR(left, 0.5f, 0.001f);
  EXPECT_NEAR(right, 0.25f, 0.001f);
  EXPECT_NEAR(whole, 0.5f, 0.001f);
  EXPECT_FALSE(hardware->hasOutputVolume(speakers, 3));
  EXPECT_EQ(hardware->setOutputVolume(speakers, 0, -0.5f), AudioStatus::invalidArgument);
  // An input-only device has no output volume.
  EXPECT_FLOAT_EQ(AudioDeviceUtil::getDeviceVolume(mic, stereo), -1.0f);
  EXPECT_FALSE(AudioDeviceUtil::setDeviceVolume(mic, stereo, 0.5f));
}

TEST_F(RealServer, MicrophoneIsActiveOnlyWithARealInputDevice) {
  startServer();
  EXPECT_TRUE(DeviceUtil::microphoneIsActive());
  TearDown();
  // Without a microphone the server falls back to a monitor, which is no input device.
  startServer({.loopbackSink = true, .microphone = false});
  AudioDeviceId input = 1;
  ASSERT_EQ(hardware->defaultInputDevice(input), AudioStatus::ok);
  EXPECT_EQ(input, kNoAudioDevice);
  EXPECT_FALSE(DeviceUtil::microphoneIsActive());
}

TEST_F(RealServer, ADeadServerGivesNeutralAnswersAndTheNextServerIsFoundAgain) {
  startServer();
  const AudioDeviceId loopback = idOf("VerdalisRecorder");
  daemon->stop();
  EXPECT_EQ(AudioDeviceUtil::getCurrentOutputDeviceID(), kNoAudioDevice);
  EXPECT_EQ(AudioDeviceUtil::getBlackHoleDeviceID(), kNoAudioDevice);
  EXPECT_FALSE(AudioDeviceUtil::setOutputDevice(loopback));
  EXPECT_DOUBLE_EQ(AudioDeviceUtil::getSampleRate(loopback), 0.0);
  EXPECT_FLOAT_EQ(AudioDeviceUtil::getDeviceVolume(loopback, stereo), -1.0f);
  EXPECT_FALSE(DeviceUtil::microphoneIsActive());
  AudioStatus status = AudioStatus::ok;
  EXPECT_EQ(hardware->openOutputStream(loopback, stereo, 4096, [](uint8_t*, size_t) {}, status), nullptr);
  EXPECT_EQ(status, AudioStatus::serverUnavailable);
  // Same socket, new server: the shared connection reconnects by itself.
  ASSERT_TRUE(daemon->start()) << daemon->log();
  EXPECT_EQ(AudioDeviceUtil::getBlackHoleDeviceID(), loopback);
}

}  // namespace
}  // namespace quillon
