#include <gtest/gtest.h>

#include <numeric>

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
using Levels = std::vector<std::pair<std::vector<float>, bool>>;  // each device's volumes and mute

class SpeakerCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No drop-in is installed, whatever this machine has under /etc.
    LoopbackInstallLayout::setCurrentRoot(state.str());
    server->addSink(kSpeakers, "Speakers", 0.6f).muted = true;
    server->addSink(4, "verdalisrecorder");  // not the loopback device: names match exactly
    server->addSink(kLoopback, "VerdalisRecorder").volumes = {0.9f, 0.8f};
    server->addSink(kHeadphones, "USB Headphones", 0.3f);
    server->defaultSink = kSpeakers;
    before = levels();
  }
  void TearDown() override { LoopbackInstallLayout::setCurrentRoot(""); }
  std::shared_ptr<SpeakerCapture> makeCapture() {
    return SpeakerCapture::create("/opt/quillon/VerdalisRecorder.pa",
                                  {.server = server, .mainThread = nullptr, .stateFolder = folder});
  }
  std::optional<OutputDeviceStateFile::Entry> stateEntry() { return OutputDeviceStateFile(folder).read(); }
  bool repair() { return SpeakerCapture::restoreOutputLeftOnLoopback(*server, folder); }
  // Whether the player or the loopback stream still runs.
  bool streamsRun() {
    uint8_t out[4];
    return server->pullOutput(out, sizeof out) || server->pushInput(out, sizeof out);
  }
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

TEST_F(SpeakerCaptureTest, TheUserHearsExactlyWhatTheLoopbackCapturedAndEverythingGoesBack) {
  auto capture = makeCapture();
  std::vector<float> collected;
  capture->setAudioCallback(test::collectInto(collected));
  ASSERT_TRUE(capture->startCapture(true, stage.str()));
  EXPECT_FALSE(repair());  // the output is this capture's

  // Every captured byte, in order, and how many of them the player handed on.
  std::vector<uint8_t> captured;
  size_t played = 0;
  uint8_t periods = 0;
  auto capturePeriod = [&](size_t bytes) {
    std::vector<uint8_t> period(bytes);
    std::iota(period.begin(), period.end(), periods++);
    captured.insert(captured.end(), period.begin(), period.end());
    return server->pushInput(period.data(), period.size());
  };
  auto nextCaptured = [&](size_t bytes) {
    played += bytes;
    return std::vector<uint8_t>(captured.begin() + played - bytes, captured.begin() + played);
  };
  // What a pull of `bytes` gives the server; nothing may be written past them.
  auto pull = [&](size_t bytes) {
    std::vector<uint8_t> out(bytes + 4, 0xEE);
    EXPECT_TRUE(server->pullOutput(out.data(), bytes));
    EXPECT_EQ(std::count(out.end() - 4, out.end(), 0xEE), 4);
    out.resize(bytes);
    return out;
  };
  // A pull the queue cannot fill whole plays what it holds, to the last whole
  // 2 ms slice (352 bytes), then silence.
  ASSERT_TRUE(capturePeriod(3528));
  const auto shortPull = pull(4096);
  EXPECT_EQ(std::vector<uint8_t>(shortPull.begin(), shortPull.begin() + 3520), nextCaptured(3520));
  EXPECT_EQ(std::count(shortPull.begin() + 3520, shortPull.end(), 0), 576);
  ASSERT_TRUE(capturePeriod(3528));
  ASSERT_TRUE(capturePeriod(3528));
  // A pull larger than the player's staging buffer gets that much, then silence.
  const auto heard = pull(8192);
  EXPECT_EQ(std::vector<uint8_t>(heard.begin(), heard.begin() + 4096), nextCaptured(4096));
  EXPECT_EQ(std::count(heard.begin() + 4096, heard.end(), 0), 4096);
  // Periods of uneven length, more than the queue's three-second ring holds,
  // so that they wrap round its end.
  for (int i = 0; i < 160; ++i) {
    const size_t bytes = 3528 - 4 * (i % 3);
    ASSERT_TRUE(capturePeriod(bytes));
    ASSERT_EQ(pull(bytes), nextCaptured(bytes));
  }
  ASSERT_TRUE(server->pushInput(nullptr, 3528));  // a lost stretch counts as silence
  const size_t frames = captured.size() / 4 + 882;

  capture->stopCapture();
  EXPECT_EQ(server->defaultSink, kSpeakers);
  EXPECT_EQ(levels(), before);
  EXPECT_FALSE(streamsRun());
  EXPECT_EQ(server->listeners, 0);
  EXPECT_FALSE(stateEntry());
  // The recording gets every frame, the lost stretch included, as mono 16 kHz.
  EXPECT_EQ(test::wavDataLength(stage.str() + "/speaker_original.wav"), frames * 4);
  EXPECT_EQ(test::wavDataLength(stage.str() + "/speaker.wav"), collected.size() * 2);
  EXPECT_NEAR(static_cast<double>(collected.size()), frames * 16000.0 / 44100.0, 2.0);
}

// The loopback takes the user's volume and the pass-through undoes it on the
// user's device, whose own volume is never touched; a device turned all the
// way down leaves the loopback its own volume, and the gain is capped.
TEST_F(SpeakerCaptureTest, TheLoopbackTakesTheUsersVolumeAndAllVolumesGoBack) {
  for (float user : {0.6f, 0.05f, 0.0f}) {
    SCOPED_TRACE(user);
    server->device(kSpeakers)->volumes = {user, user};
    before = levels();
    auto capture = makeCapture();
    ASSERT_TRUE(capture->startCapture(false, std::nullopt));
    const auto loopback = user > 0.0f ? std::vector<float>{user, user} : std::vector<float>{0.9f, 0.8f};
    EXPECT_EQ(server->device(kLoopback)->volumes, loopback);
    EXPECT_EQ(server->device(kSpeakers)->volumes, (std::vector<float>{user, user}));
    EXPECT_FLOAT_EQ(server->playbackVolume, loopback[0] < 0.1f ? 10.0f : 1.0f / loopback[0]);
    capture->stopCapture();
    EXPECT_EQ(levels(), before);
  }
}

TEST_F(SpeakerCaptureTest, AStartFailingAnywhereLeavesTheUserWithSound) {
  // Each failing call, and the line that names it.
  const std::pair<AudioStatus*, std::string_view> cases[] = {
      {&server->setDefaultStatus, test::log_lines::kLoopbackNotSet},
      {&server->listStatus, test::log_lines::kDeviceListFailed},
      {&server->playbackStatus, test::log_lines::kPlayerFailed},
      {&server->recordStatus, test::log_lines::kLoopbackStreamFailed},
  };
  for (const auto& [status, line] : cases) {
    SCOPED_TRACE(line);
    *status = AudioStatus::serverUnavailable;
    auto capture = makeCapture();
    EXPECT_FALSE(capture->startCapture(true, stage.str()));
    *status = AudioStatus::ok;
    EXPECT_EQ(server->defaultSink, kSpeakers);
    EXPECT_EQ(levels(), before);
    EXPECT_EQ(server->listeners, 0);
    EXPECT_FALSE(streamsRun());
    EXPECT_TRUE(log.has(line));
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

  // Without a state file the first other device stands for the user's, and
  // the output goes there when a running capture is dropped.
  server->defaultSink = kLoopback;
  auto capture = makeCapture();
  ASSERT_TRUE(capture->startCapture(false, std::nullopt));
  capture.reset();
  EXPECT_EQ(server->defaultSink, kSpeakers);
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
  ASSERT_TRUE(stateEntry());
  EXPECT_EQ(stateEntry()->deviceName, "Speakers");
  EXPECT_FLOAT_EQ(stateEntry()->volume, 0.6f);
  server->setDefaultStatus = AudioStatus::ok;
  EXPECT_TRUE(repair());
  EXPECT_EQ(server->defaultSink, kSpeakers);
}

}  // namespace
}  // namespace quillon
