#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "capture/device_switching.h"
#include "capture/loopback_driver_installer.h"
#include "capture/output_device_state_file.h"
#include "capture/speaker_capture.h"
#include "fakes/fake_audio_server.h"
#include "support/expected_log_lines.h"
#include "support/log_capture.h"
#include "unit/capture/capture_test_support.h"

namespace quillon {
namespace {

constexpr AudioDeviceId kSpeakers = 1, kLoopback = 2, kHeadphones = 3;

// Runs posted work at once, on the posting thread.
class InlineMainThread final : public MainThread {
 public:
  void post(std::function<void()> work) override { work(); }
  bool isMainThread() const override { return true; }
};

class SpeakerCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server->addSink(kSpeakers, "Speakers", 0.6f);
    server->addSink(kLoopback, "VerdalisRecorder").volumes = {0.9f, 0.8f};
    server->addSink(kHeadphones, "Headphones", 0.3f);
    server->defaultSink = kSpeakers;
  }
  std::shared_ptr<SpeakerCapture> makeCapture() {
    return SpeakerCapture::create("/opt/quillon/VerdalisRecorder.pa",
                                  {.server = server, .mainThread = nullptr, .stateFolder = state.str()});
  }
  std::optional<OutputDeviceStateFile::Entry> stateEntry() { return OutputDeviceStateFile(state.str()).read(); }
  std::vector<float> volumesOf(AudioDeviceId id) { return server->device(id)->volumes; }

  test::LogCapture log;
  test::TempDir state, stage;
  std::shared_ptr<test::FakeAudioServer> server = std::make_shared<test::FakeAudioServer>();
};

TEST_F(SpeakerCaptureTest, TheUserHearsTheLoopbackThroughThePassThroughAndEverythingGoesBack) {
  auto capture = makeCapture();
  test::SampleCollector collected;
  capture->setAudioCallback(collected.callback());
  ASSERT_TRUE(capture->startCapture(true, stage.str()));
  EXPECT_EQ(server->defaultSink, kLoopback);
  EXPECT_EQ(server->defaultSinkSets, std::vector<AudioDeviceId>{kLoopback});
  // The loopback takes the user's volume and the pass-through undoes it on
  // the user's device, whose own volume is never touched.
  EXPECT_EQ(volumesOf(kLoopback), (std::vector<float>{0.6f, 0.6f}));
  EXPECT_EQ(volumesOf(kSpeakers), (std::vector<float>{0.6f, 0.6f}));
  EXPECT_EQ(server->playbackDevice, kSpeakers);
  EXPECT_NEAR(server->playbackVolume, 1.0f / 0.6f, 1e-4f);
  EXPECT_EQ(server->recordDevice, kLoopback);
  EXPECT_EQ(server->recordPeriodBytes, 3528u);
  EXPECT_DOUBLE_EQ(server->recordFormat.mSampleRate, 44100.0);
  EXPECT_EQ(server->recordFormat.mChannelsPerFrame, 2u);
  EXPECT_EQ(server->recordFormat.mBitsPerChannel, 16u);
  ASSERT_TRUE(stateEntry());
  EXPECT_EQ(stateEntry()->deviceName, "Speakers");
  EXPECT_FLOAT_EQ(stateEntry()->volume, 0.6f);
  EXPECT_TRUE(server->watched());
  EXPECT_FALSE(SpeakerCapture::restoreOutputLeftOnLoopback(*server, state.str()));  // held by this capture

  // Each period reaches the player as it is and the recording as mono 16 kHz.
  uint64_t phase = 0;
  size_t frames = 0;
  std::vector<uint8_t> heard(3528);
  for (int i = 0; i < 50; ++i) {
    const auto period = test::sinePeriod(1000.0, 44100.0, 2, 882, phase);
    ASSERT_TRUE(server->pushInput(period.data(), period.size()));
    ASSERT_TRUE(server->pullOutput(heard.data(), heard.size()));
    EXPECT_EQ(heard, period);
    frames += 882;
  }
  ASSERT_TRUE(server->pushInput(nullptr, 3528));  // a lost stretch counts as silence
  frames += 882;
  EXPECT_NEAR(test::toneFrequency(collected.samples(), 16000.0), 1000.0, 5.0);

  capture->stopCapture();
  EXPECT_FALSE(capture->isRunning());
  EXPECT_EQ(server->defaultSink, kSpeakers);
  EXPECT_EQ(volumesOf(kLoopback), (std::vector<float>{0.9f, 0.8f}));
  EXPECT_EQ(server->stoppedPlaybackStreams, 1);
  EXPECT_EQ(server->stoppedRecordStreams, 1);
  EXPECT_FALSE(server->watched());
  EXPECT_FALSE(stateEntry());
  const auto original = test::readWavHeader(stage.str() + "/speaker_original.wav");
  const auto converted = test::readWavHeader(stage.str() + "/speaker.wav");
  EXPECT_EQ(original.dataLength / 4, frames);
  EXPECT_EQ(converted.dataLength / 2, collected.count());
  EXPECT_NEAR(static_cast<double>(collected.count()), frames * 16000.0 / 44100.0, 2.0);
}

TEST_F(SpeakerCaptureTest, ADeviceTurnedDownKeepsTheLoopbackVolumeAndTheGainIsCapped) {
  for (float user : {0.0f, 0.05f}) {
    SCOPED_TRACE(user);
    server->device(kSpeakers)->volumes = {user, user};
    auto capture = makeCapture();
    ASSERT_TRUE(capture->startCapture(false, std::nullopt));
    const float loopback = user > 0.0f ? user : 0.9f;
    EXPECT_FLOAT_EQ(volumesOf(kLoopback)[0], loopback);
    EXPECT_FLOAT_EQ(server->playbackVolume, loopback < 0.1f ? 10.0f : 1.0f / loopback);
    capture->stopCapture();
    EXPECT_EQ(volumesOf(kLoopback), (std::vector<float>{0.9f, 0.8f}));
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
    EXPECT_EQ(volumesOf(kLoopback), (std::vector<float>{0.9f, 0.8f}));
    EXPECT_FALSE(server->watched());
    EXPECT_EQ(server->openPlaybackStreams, server->stoppedPlaybackStreams);
    EXPECT_EQ(server->openRecordStreams, server->stoppedRecordStreams);
    EXPECT_TRUE(log.has(c.line));
    capture->stopCapture();
  }
  // No loopback device (and no drop-in to load it from), or no output at
  // all: nothing is touched.
  LoopbackInstallLayout::setCurrentRoot(stage.str());
  server->remove(kLoopback);
  EXPECT_FALSE(makeCapture()->startCapture(false, std::nullopt));
  LoopbackInstallLayout::setCurrentRoot("");
  server->addSink(kLoopback, "VerdalisRecorder");
  server->defaultSink = kNoAudioDevice;
  EXPECT_FALSE(makeCapture()->startCapture(false, std::nullopt));
  EXPECT_TRUE(log.has(test::log_lines::kNoOutputDevice));
  EXPECT_EQ(server->defaultSink, kNoAudioDevice);
  EXPECT_FALSE(stateEntry());
}

TEST_F(SpeakerCaptureTest, AnOutputLeftOnTheLoopbackDeviceIsPutBack) {
  // A crash left the output on the loopback device; the state file names the
  // user's device, which is not the first one.
  EXPECT_FALSE(SpeakerCapture::restoreOutputLeftOnLoopback(*server, state.str()));  // nothing to mend
  ASSERT_TRUE(OutputDeviceStateFile(state.str()).write({"Headphones", 0.3f}));
  server->defaultSink = kLoopback;
  EXPECT_TRUE(SpeakerCapture::restoreOutputLeftOnLoopback(*server, state.str()));
  EXPECT_EQ(server->defaultSink, kHeadphones);
  EXPECT_FALSE(stateEntry());

  // A stale state file with the output elsewhere is only removed.
  ASSERT_TRUE(OutputDeviceStateFile(state.str()).write({"Headphones", 0.3f}));
  EXPECT_FALSE(SpeakerCapture::restoreOutputLeftOnLoopback(*server, state.str()));
  EXPECT_EQ(server->defaultSink, kHeadphones);
  EXPECT_FALSE(stateEntry());

  // Without a state file a capture plays on the first other device and puts
  // the output there at stop.
  server->defaultSink = kLoopback;
  auto capture = makeCapture();
  ASSERT_TRUE(capture->startCapture(false, std::nullopt));
  EXPECT_EQ(server->playbackDevice, kSpeakers);
  ASSERT_TRUE(stateEntry());
  EXPECT_EQ(stateEntry()->deviceName, "Speakers");
  capture.reset();  // dropped while running: restored as a stop does
  EXPECT_EQ(server->defaultSink, kSpeakers);
  EXPECT_FALSE(stateEntry());

  // No other output at all: the repair says so and leaves it.
  server->defaultSink = kLoopback;
  server->remove(kSpeakers);
  server->remove(kHeadphones);
  EXPECT_FALSE(SpeakerCapture::restoreOutputLeftOnLoopback(*server, state.str()));
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
  EXPECT_TRUE(SpeakerCapture::restoreOutputLeftOnLoopback(*server, state.str()));
  EXPECT_EQ(server->defaultSink, kSpeakers);
}

TEST_F(SpeakerCaptureTest, OutputChangesAreObservedOnlyBetweenTheCapturesOwnSwitches) {
  struct Counting final : DeviceSwitching {
    using DeviceSwitching::DeviceSwitching;
    void handleOutputDeviceChanged() override { ++changes; }
    int changes = 0;
  };
  auto switching = std::make_shared<Counting>(std::weak_ptr<SpeakerCapture>(), std::make_shared<InlineMainThread>(),
                                              server);
  server->moveOutputTo(kHeadphones);
  switching->startObservingOutputDeviceChange();
  switching->startObservingOutputDeviceChange();  // one listener only
  server->moveOutputTo(kSpeakers);
  EXPECT_EQ(switching->changes, 1);
  switching->stopObservingOutputDeviceChange();
  server->moveOutputTo(kHeadphones);
  EXPECT_EQ(switching->changes, 1);

  server->watchStatus = AudioStatus::serverUnavailable;
  switching->startObservingOutputDeviceChange();
  EXPECT_FALSE(server->watched());
}

TEST_F(SpeakerCaptureTest, StartUpRepairLeavesTheOutputOfARecordingInAnotherProcessAlone) {
  // A second host process starting while the first records must not take the
  // first one's system output away; once the recording process is gone (here
  // it is killed, as a crash would), the output is mended.
  ASSERT_TRUE(OutputDeviceStateFile(state.str()).write({"Speakers", 0.5f}));
  server->defaultSink = kLoopback;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t recorder = fork();
  ASSERT_GE(recorder, 0);
  if (recorder == 0) {
    auto hold = OutputDeviceStateFile(state.str()).holdOutput();
    const char byte = hold ? 1 : 0;
    if (write(ready[1], &byte, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 1);

  EXPECT_FALSE(SpeakerCapture::restoreOutputLeftOnLoopback(*server, state.str()));
  EXPECT_EQ(server->defaultSink, kLoopback);
  EXPECT_TRUE(stateEntry());

  kill(recorder, SIGKILL);
  waitpid(recorder, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_TRUE(SpeakerCapture::restoreOutputLeftOnLoopback(*server, state.str()));
  EXPECT_EQ(server->defaultSink, kSpeakers);
}

}  // namespace
}  // namespace quillon
