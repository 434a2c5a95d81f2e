#include <gtest/gtest.h>

#include "capture/output_device_state_file.h"
#include "capture/speaker_capture.h"
#include "fakes/fake_audio_server.h"
#include "support/expected_log_lines.h"
#include "support/log_capture.h"
#include "unit/capture/capture_test_support.h"

namespace quillon {
namespace {

constexpr AudioDeviceId kSpeakers = 1, kLoopback = 2, kHeadphones = 3;
using Levels = std::vector<std::pair<std::vector<float>, bool>>;  // each device's volumes and mute

class SpeakerCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server->addSink(kSpeakers, "Speakers", 0.6f).muted = true;
    server->addSink(kLoopback, "VerdalisRecorder").volumes = {0.9f, 0.8f};
    server->addSink(kHeadphones, "USB Headphones", 0.3f);
    server->defaultSink = kSpeakers;
    before = levels();
  }
  std::shared_ptr<SpeakerCapture> makeCapture() {
    return SpeakerCapture::create("/opt/quillon/VerdalisRecorder.pa",
                                  {.server = server, .mainThread = nullptr, .stateFolder = folder});
  }
  std::optional<OutputDeviceStateFile::Entry> stateEntry() { return OutputDeviceStateFile(folder).read(); }
  bool repair() { return SpeakerCapture::restoreOutputLeftOnLoopback(*server, folder); }
  // To see that a capture leaves every device as it found it, the user's muted one included.
  Levels levels() {
    Levels all;
    for (const auto& d : server->devices) all.emplace_back(d.volumes, d.muted);
    return all;
  }

  test::LogCapture log;
  test::TempDir state, stage;
  const std::string folder = state.str() + "/quillon-host";  // made by the first write
  std::shared_ptr<test::FakeAudioServer> server = std::make_shared<test::FakeAudioServer>();
  Levels before;
};

TEST_F(SpeakerCaptureTest, TheUserHearsTheLoopbackThroughThePassThroughAndEverythingGoesBack) {
  auto capture = makeCapture();
  std::vector<float> collected;
  capture->setAudioCallback(test::collectInto(collected));
  ASSERT_TRUE(capture->startCapture(true, stage.str()));
  EXPECT_EQ(server->defaultSink, kLoopback);
  // The loopback takes the user's volume and the pass-through undoes it on
  // the user's device, whose own volume is never touched.
  EXPECT_EQ(server->device(kLoopback)->volumes, (std::vector<float>{0.6f, 0.6f}));
  EXPECT_EQ(server->device(kSpeakers)->volumes, (std::vector<float>{0.6f, 0.6f}));
  EXPECT_EQ(server->playbackDevice, kSpeakers);
  EXPECT_NEAR(server->playbackVolume, 1.0f / 0.6f, 1e-4f);
  EXPECT_EQ(server->recordDevice, kLoopback);
  ASSERT_TRUE(stateEntry());
  EXPECT_EQ(stateEntry()->deviceName, "Speakers");
  EXPECT_FLOAT_EQ(stateEntry()->volume, 0.6f);
  EXPECT_EQ(server->listeners, 1);
  EXPECT_FALSE(repair());  // the output is this capture's

  // Each period reaches the player as it is and the recording as mono 16 kHz.
  uint64_t phase = 0;
  std::vector<uint8_t> heard(3528);
  for (int i = 0; i < 50; ++i) {
    const auto period = test::sinePeriod(1000.0, 44100.0, 2, 882, phase);
    ASSERT_TRUE(server->pushInput(period.data(), period.size()));
    ASSERT_TRUE(server->pullOutput(heard.data(), heard.size()));
    EXPECT_EQ(heard, period);
  }
  ASSERT_TRUE(server->pushInput(nullptr, 3528));  // a lost stretch counts as silence
  const size_t frames = 51 * 882;
  EXPECT_NEAR(test::toneFrequency(collected, 16000.0), 1000.0, 5.0);

  capture->stopCapture();
  EXPECT_FALSE(capture->isRunning());
  EXPECT_EQ(server->defaultSink, kSpeakers);
  EXPECT_EQ(levels(), before);
  EXPECT_EQ(server->stoppedPlaybackStreams, 1);
  EXPECT_EQ(server->stoppedRecordStreams, 1);
  EXPECT_EQ(server->listeners, 0);
  EXPECT_FALSE(stateEntry());
  const size_t delivered = collected.size();
  EXPECT_EQ(test::wavField(stage.str() + "/speaker_original.wav", test::kWavDataLength), frames * 4);
  EXPECT_EQ(test::wavField(stage.str() + "/speaker.wav", test::kWavDataLength), delivered * 2);
  EXPECT_NEAR(static_cast<double>(delivered), frames * 16000.0 / 44100.0, 2.0);
}

TEST_F(SpeakerCaptureTest, ADeviceTurnedDownKeepsTheLoopbackVolumeAndTheGainIsCapped) {
  for (float user : {0.0f, 0.05f}) {
    SCOPED_TRACE(user);
    server->device(kSpeakers)->volumes = {user, user};
    before = levels();
    auto capture = makeCapture();
    ASSERT_TRUE(capture->startCapture(false, std::nullopt));
    const float loopback = user > 0.0f ? user : 0.9f;
    EXPECT_FLOAT_EQ(server->device(kLoopback)->volumes[0], loopback);
    EXPECT_FLOAT_EQ(server->playbackVolume, loopback < 0.1f ? 10.0f : 1.0f / loopback);
    capture->stopCapture();
    EXPECT_EQ(levels(), before);
  }
}

TEST_F(SpeakerCaptureTest, AStartFailingAnywhereLeavesTheUserWithSound) {
  struct Case {
    AudioStatus* status;
    std::string_view line;
  } cases[] = {
      {&server->playbackStatus, test::log_lines::kPlayerFailed},
      {&server->recordStatus, test::log_lines::kLoopbackStreamFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    *c.status = AudioStatus::serverUnavailable;
    auto capture = makeCapture();
    EXPECT_FALSE(capture->startCapture(true, stage.str()));
    EXPECT_FALSE(capture->isRunning());
    *c.status = AudioStatus::ok;
    EXPECT_EQ(server->defaultSink, kSpeakers);
    EXPECT_EQ(levels(), before);
    EXPECT_EQ(server->listeners, 0);
    EXPECT_EQ(server->openPlaybackStreams, server->stoppedPlaybackStreams);
    EXPECT_EQ(server->openRecordStreams, server->stoppedRecordStreams);
    EXPECT_TRUE(log.has(c.line));
  }
  // No output at all: nothing is touched.
  server->defaultSink = kNoAudioDevice;
  EXPECT_FALSE(makeCapture()->startCapture(false, std::nullopt));
  EXPECT_TRUE(log.has(test::log_lines::kNoOutputDevice));
  EXPECT_EQ(server->defaultSink, kNoAudioDevice);
  EXPECT_FALSE(stateEntry());
}

TEST_F(SpeakerCaptureTest, AnOutputLeftOnTheLoopbackDeviceIsPutBackOnceNoRecordingHoldsIt) {
  // A crash left the output on the loopback device; the state file names the
  // user's device, which is not the first one (and has a space in its name).
  EXPECT_FALSE(repair());  // nothing to mend
  ASSERT_TRUE(OutputDeviceStateFile(folder).write({"USB Headphones", 0.3f}));
  server->defaultSink = kLoopback;
  // A second host process starting while the first records must not take the
  // first one's output away. The hold is a lock on an open file, so one
  // taken here stands for another process's; dropping it is that process dying.
  auto hold = OutputDeviceStateFile(folder).holdOutput();
  ASSERT_TRUE(hold);
  EXPECT_FALSE(repair());
  EXPECT_EQ(server->defaultSink, kLoopback);
  hold.reset();
  EXPECT_TRUE(repair());
  EXPECT_EQ(server->defaultSink, kHeadphones);
  EXPECT_FALSE(stateEntry());

  // A stale state file with the output elsewhere is only removed.
  ASSERT_TRUE(OutputDeviceStateFile(folder).write({"USB Headphones", 0.3f}));
  EXPECT_FALSE(repair());
  EXPECT_EQ(server->defaultSink, kHeadphones);
  EXPECT_FALSE(stateEntry());

  // Without a state file a capture plays on the first other device and puts
  // the output there when it is dropped while running.
  server->defaultSink = kLoopback;
  auto capture = makeCapture();
  ASSERT_TRUE(capture->startCapture(false, std::nullopt));
  EXPECT_EQ(server->playbackDevice, kSpeakers);
  capture.reset();
  EXPECT_EQ(server->defaultSink, kSpeakers);
  EXPECT_FALSE(stateEntry());

  // No other output at all: the repair says so and leaves it.
  server->defaultSink = kLoopback;
  server->remove(kSpeakers);
  server->remove(kHeadphones);
  EXPECT_FALSE(repair());
  EXPECT_EQ(server->defaultSink, kLoopback);
}

TEST_F(SpeakerCaptureTest, AnOutputThatCannotGoBackFallsBackOrKeepsTheStateForTheRepair) {
  // The user's device is unplugged during the capture: the first other device.
  server->defaultSink = kHeadphones;
  auto capture = makeCapture();
  ASSERT_TRUE(capture->startCapture(false, std::nullopt));
  server->remove(kHeadphones);
  capture->stopCapture();
  EXPECT_EQ(server->defaultSink, kSpeakers);
  EXPECT_FALSE(stateEntry());

  // The server is gone at the stop: the state file stays for the start-up repair.
  ASSERT_TRUE(capture->startCapture(false, std::nullopt));
  server->setDefaultStatus = AudioStatus::serverUnavailable;
  capture->stopCapture();
  EXPECT_FALSE(capture->isRunning());
  ASSERT_TRUE(stateEntry());
  EXPECT_EQ(stateEntry()->deviceName, "Speakers");
  server->setDefaultStatus = AudioStatus::ok;
  EXPECT_TRUE(repair());
  EXPECT_EQ(server->defaultSink, kSpeakers);
}

}  // namespace
}  // namespace quillon
