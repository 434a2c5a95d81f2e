#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "capture/audio_device_util.h"
#include "capture/output_device_state_file.h"
#include "capture/speaker_capture.h"
#include "fakes/failing_streams_hardware.h"
#include "support/log_capture.h"
#include "unit/pulse/pulse_daemon.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

class SpeakerCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(daemon.start()) << daemon.log();
    hardware = std::make_shared<test::FailingStreamsHardware>(daemon.connect());
    AudioHardwareProvider::install(hardware);
    speakers = idOf("Speakers");
    loopback = idOf("VerdalisRecorder");
    ASSERT_NE(speakers, kNoAudioDevice);
    ASSERT_NE(loopback, kNoAudioDevice);
    ASSERT_EQ(hardware->setOutputVolume(speakers, 0, 0.6f), AudioStatus::ok);
  }
  void TearDown() override { AudioHardwareProvider::install(nullptr); }

  AudioDeviceId idOf(const std::string& name) { return test::idOf(*hardware, name); }
  AudioDeviceId defaultOutput() {
    AudioDeviceId id = kNoAudioDevice;
    hardware->defaultOutputDevice(id);
    return id;
  }
  float volumeOf(AudioDeviceId id) {
    float v = -1.0f;
    hardware->outputVolume(id, 0, v);
    return v;
  }
  std::shared_ptr<SpeakerCapture> makeCapture() {
    return SpeakerCapture::create("/opt/quillon/VerdalisRecorder.pa", {.mainThread = nullptr, .stateFolder = state.str()});
  }
  std::optional<OutputDeviceStateFile::Entry> stateEntry() { return OutputDeviceStateFile(state.str()).read(); }
  // Runs pactl against the private server; its standard output.
  std::string pactl(const std::string& args) {
    const std::string command = "PULSE_SERVER=" + daemon.server() + " pactl " + args + " 2>/dev/null";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
      char buffer[256];
      while (fgets(buffer, sizeof buffer, p)) out += buffer;
      pclose(p);
    }
    return out;
  }
  AudioDeviceId addSink(const std::string& name, std::string* module = nullptr) {
    const std::string index = pactl("load-module module-null-sink sink_name=" + name);
    if (module) *module = index.substr(0, index.find('\n'));
    test::waitFor([&] { return idOf(name) != kNoAudioDevice; });
    return idOf(name);
  }

  test::LogCapture log;
  test::PulseDaemon daemon;
  test::TempDir state, stage;
  std::shared_ptr<test::FailingStreamsHardware> hardware;
  AudioDeviceId speakers = kNoAudioDevice, loopback = kNoAudioDevice;
};

TEST_F(SpeakerCaptureTest, AStartFailingAfterTheSwitchLeavesTheUserWithSound) {
  for (bool playerFails : {true, false}) {
    SCOPED_TRACE(playerFails ? "player fails" : "loopback stream fails");
    hardware->failOutputStreams = playerFails;
    hardware->failInputStreams = !playerFails;
    ASSERT_EQ(hardware->setOutputVolume(loopback, 0, 0.9f), AudioStatus::ok);
    auto capture = makeCapture();
    EXPECT_FALSE(capture->startCapture(true, stage.str()));
    EXPECT_FALSE(capture->isRunning());
    EXPECT_EQ(defaultOutput(), speakers);
    EXPECT_NEAR(volumeOf(speakers), 0.6f, 0.01f);
    EXPECT_NEAR(volumeOf(loopback), 0.9f, 0.01f);
    EXPECT_FALSE(stateEntry());
    capture->stopCapture();
    EXPECT_EQ(defaultOutput(), speakers);
  }
  EXPECT_TRUE(log.has("[speaker_capture] [ERROR] PlayerUtil failed to start!"));
  EXPECT_TRUE(log.has("[speaker_capture] [ERROR] Loopback capture stream failed to start"));
}

TEST_F(SpeakerCaptureTest, AnOutputLeftOnTheLoopbackDeviceIsPutBack) {
  const AudioDeviceId headphones = addSink("Headphones");
  ASSERT_NE(headphones, kNoAudioDevice);

  // A crash left the output on the loopback device; the state file names the
  // user's device, which is not the first one.
  EXPECT_FALSE(SpeakerCapture::restoreOutputLeftOnLoopback(state.str()));  // nothing to mend
  ASSERT_TRUE(OutputDeviceStateFile(state.str()).write({"Headphones", 0.3f}));
  ASSERT_EQ(hardware->setDefaultOutputDevice(loopback), AudioStatus::ok);
  EXPECT_TRUE(SpeakerCapture::restoreOutputLeftOnLoopback(state.str()));
  EXPECT_EQ(defaultOutput(), headphones);
  EXPECT_FALSE(stateEntry());
  EXPECT_TRUE(log.has("[speaker_capture] [INFO] System output was left on the loopback device; restored to Headphones"));

  // Without a state file a capture plays on the first other device and puts
  // the output there at stop; while it runs, the start-up repair keeps out.
  ASSERT_EQ(hardware->setDefaultOutputDevice(loopback), AudioStatus::ok);
  auto capture = makeCapture();
  ASSERT_TRUE(capture->startCapture(false, std::nullopt));
  EXPECT_EQ(defaultOutput(), loopback);
  ASSERT_TRUE(stateEntry());
  EXPECT_EQ(stateEntry()->deviceName, "Speakers");
  EXPECT_FALSE(SpeakerCapture::restoreOutputLeftOnLoopback(state.str()));
  EXPECT_EQ(defaultOutput(), loopback);
  capture->stopCapture();
  EXPECT_EQ(defaultOutput(), speakers);
  EXPECT_FALSE(stateEntry());

  // A capture dropped while running restores as a stop does.
  ASSERT_EQ(hardware->setDefaultOutputDevice(headphones), AudioStatus::ok);
  capture = makeCapture();
  ASSERT_TRUE(capture->startCapture(false, std::nullopt));
  EXPECT_EQ(defaultOutput(), loopback);
  capture.reset();
  EXPECT_EQ(defaultOutput(), headphones);
  EXPECT_FALSE(stateEntry());
}

TEST_F(SpeakerCaptureTest, AHeadsetUnpluggedDuringTheCaptureLeavesTheOutputOnAnotherDevice) {
  std::string module;
  const AudioDeviceId headset = addSink("Headset", &module);
  ASSERT_NE(headset, kNoAudioDevice);
  ASSERT_EQ(hardware->setDefaultOutputDevice(headset), AudioStatus::ok);
  auto capture = makeCapture();
  ASSERT_TRUE(capture->startCapture(false, std::nullopt));
  pactl("unload-module " + module);
  ASSERT_TRUE(test::waitFor([&] { return idOf("Headset") == kNoAudioDevice; }));
  capture->stopCapture();
  EXPECT_EQ(defaultOutput(), speakers);
  EXPECT_FALSE(stateEntry());
  EXPECT_TRUE(log.has("Original output device is gone; system output set to Speakers"));
}

TEST_F(SpeakerCaptureTest, AStalledPassThroughNeverCostsTheRecordingItsAudio) {
  hardware->stallOutputStreams = true;
  auto capture = makeCapture();
  test::SampleCollector collected;
  capture->setAudioCallback(collected.callback());
  ASSERT_TRUE(capture->startCapture(true, stage.str()));
  // The pass-through queue is kept short (the user would hear seconds late
  // otherwise) and never overflows; the recording goes on regardless.
  EXPECT_TRUE(test::waitFor([&] { return collected.count() >= 64000; }));
  capture->stopCapture();
  EXPECT_FALSE(log.has("Speaker buffer too large"));
  const auto original = test::readWavHeader(stage.str() + "/speaker_original.wav");
  EXPECT_NEAR(static_cast<double>(collected.count()), original.dataLength / 4 * 16000.0 / 44100.0, 2.0);
}

TEST_F(SpeakerCaptureTest, StartUpRepairLeavesTheOutputOfARecordingInAnotherProcessAlone) {
  // A second host process starting while the first records must not take the
  // first one's system output away; once the recording process is gone (here
  // it is killed, as a crash would), the output is mended.
  ASSERT_TRUE(OutputDeviceStateFile(state.str()).write({"Speakers", 0.5f}));
  ASSERT_EQ(hardware->setDefaultOutputDevice(loopback), AudioStatus::ok);
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

  EXPECT_FALSE(SpeakerCapture::restoreOutputLeftOnLoopback(state.str()));
  EXPECT_EQ(defaultOutput(), loopback);
  EXPECT_TRUE(stateEntry());

  kill(recorder, SIGKILL);
  waitpid(recorder, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_TRUE(SpeakerCapture::restoreOutputLeftOnLoopback(state.str()));
  EXPECT_EQ(defaultOutput(), speakers);
}

}  // namespace
}  // namespace quillon
