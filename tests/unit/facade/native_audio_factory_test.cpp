#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "facade_test_support.h"

namespace quillon {
namespace {

using test::LogCapture;
using test::FacadeWorld;
using ::testing::HasSubstr;

struct Recording {
  test::TempDir dir;
  std::string wav() const { return (dir.path() / "a.wav").string(); }
  std::string opus() const { return (dir.path() / "a.opus").string(); }
};

TEST(NativeAudioFactory, DriverCheckAtCreationLogsSkipOrFailureAndNeverFailsTheFacade) {
  LogCapture log;
  FacadeWorld present;
  { NativeAudioFactory facade("/drivers/VerdalisRecorder.pa", true, present.dependencies()); }
  EXPECT_TRUE(present.installCalls.empty());

  FacadeWorld missing;
  missing.driverInstalled = false;
  missing.installStatus = -1;
  NativeAudioFactory facade("/drivers/VerdalisRecorder.pa", false, missing.dependencies());
  EXPECT_EQ(missing.installCalls, std::vector<std::string>{"/drivers/VerdalisRecorder.pa"});

  FacadeWorld installed;
  installed.driverInstalled = false;
  { NativeAudioFactory quiet("/drivers/x.pa", false, installed.dependencies()); }
  EXPECT_EQ(installed.installCalls.size(), 1u);

  const std::string text = log.text();
  EXPECT_THAT(text, HasSubstr("[native_audio_factory] [INFO] init. reserveStageAudio: true"));
  EXPECT_THAT(text, HasSubstr("[native_audio_factory] [INFO] init. reserveStageAudio: false"));
  EXPECT_THAT(text, HasSubstr("[recorder] [INFO] BlackHole已安装, 跳过后续安装"));
  EXPECT_THAT(text, HasSubstr("[recorder] [INFO] BlackHole安装失败: -1"));
  // A successful install adds no line of its own.
  EXPECT_EQ(text.find("BlackHole安装失败: 0"), std::string::npos);
}

TEST(NativeAudioFactory, StartAnswersWhetherTheNeededCapturesStarted) {
  struct Case {
    bool mic, micStarts, speakerStarts, expected;
  };
  for (const Case& c : {Case{true, true, true, true}, Case{true, false, true, false}, Case{true, true, false, false},
                        Case{false, false, true, true}, Case{false, true, false, false}}) {
    FacadeWorld world;
    world.captures.micStarts = c.micStarts;
    world.captures.speakerStarts = c.speakerStarts;
    Recording rec;
    NativeAudioFactory facade("/d.pa", true, world.dependencies());
    EXPECT_EQ(facade.startRecorder(c.mic, rec.dir.str(), rec.wav(), rec.opus()), c.expected)
        << "mic " << c.mic << " micStarts " << c.micStarts << " speakerStarts " << c.speakerStarts;
    EXPECT_EQ(facade.isRecording, c.expected);
    // A failed start keeps its objects: the files exist and the next stop closes them.
    EXPECT_TRUE(std::filesystem::exists(rec.wav()));
    EXPECT_EQ(facade.stopRecorder().success, 0);
  }
}

TEST(NativeAudioFactory, StartHandsStageFlagFolderAndDriverPathToTheCaptures) {
  LogCapture log;
  FacadeWorld world;
  Recording rec;
  NativeAudioFactory facade("/drivers/v.pa", true, world.dependencies());
  ASSERT_TRUE(facade.startRecorder(true, rec.dir.str(), rec.wav(), rec.opus()));
  const std::string start = "start(stage=1,path=" + rec.dir.str() + ")";
  EXPECT_EQ(world.captures.journal->count("mic." + start), 1u);
  EXPECT_EQ(world.captures.journal->count("speaker." + start), 1u);
  EXPECT_EQ(world.captures.journal->count("mic.pause"), 0u);
  EXPECT_EQ(world.captures.speakerDriverPaths, std::vector<std::string>{"/drivers/v.pa"});
  EXPECT_EQ(facade.wavFilePath, rec.wav());
  EXPECT_EQ(facade.opusFilePath, rec.opus());
  // The line ends with the WAV path: the Opus path is not logged.
  EXPECT_THAT(log.text(), HasSubstr("[native_audio_factory] [INFO] startRecorder... recorderMic: true, recorderPath: " +
                                    rec.dir.str() + ", wavFilePath: " + rec.wav() + "\n"));
}

TEST(NativeAudioFactory, MicrophoneOffIsStartedPausedAndLaterResumedNotRestarted) {
  FacadeWorld world;
  Recording rec;
  NativeAudioFactory facade("/d.pa", false, world.dependencies());
  ASSERT_TRUE(facade.startRecorder(false, rec.dir.str(), rec.wav(), rec.opus()));
  const auto events = world.captures.journal->events();
  const auto start = std::find(events.begin(), events.end(), "mic.start(stage=0,path=" + rec.dir.str() + ")");
  const auto pause = std::find(events.begin(), events.end(), "mic.pause");
  ASSERT_NE(start, events.end());
  ASSERT_NE(pause, events.end());
  EXPECT_LT(start, pause);
  EXPECT_FALSE(facade.isMicRecordingEnabled);

  world.captures.journal->clear();
  EXPECT_TRUE(facade.switchMicRecorder(true));
  EXPECT_EQ(world.captures.journal->events(), std::vector<std::string>{"mic.resume"});
  EXPECT_TRUE(facade.switchMicRecorder(false));
  EXPECT_EQ(world.captures.journal->count("mic.pause"), 1u);
}

TEST(NativeAudioFactory, SwitchingOnRetriesAMicrophoneThatFailedToStart) {
  FacadeWorld world;
  world.captures.micStarts = false;
  Recording rec;
  NativeAudioFactory facade("/d.pa", true, world.dependencies());
  EXPECT_FALSE(facade.startRecorder(true, rec.dir.str(), rec.wav(), rec.opus()));
  world.captures.journal->clear();
  world.captures.lastMic->setStartSucceeds(true);
  EXPECT_TRUE(facade.switchMicRecorder(true));
  EXPECT_EQ(world.captures.journal->events(),
            std::vector<std::string>{"mic.start(stage=1,path=" + rec.dir.str() + ")"});
  EXPECT_TRUE(world.captures.lastMic->isRunning());
}

TEST(NativeAudioFactory, SwitchPauseAndResumeWithoutARecordingOnlyChangeFlags) {
  LogCapture log;
  FacadeWorld world;
  NativeAudioFactory facade("/d.pa", false, world.dependencies());
  EXPECT_TRUE(facade.switchMicRecorder(false));
  EXPECT_FALSE(facade.isMicRecordingEnabled);
  EXPECT_TRUE(facade.pauseRecorder());
  EXPECT_TRUE(facade.isPaused);
  EXPECT_TRUE(facade.resumeRecorder());
  EXPECT_FALSE(facade.isPaused);
  EXPECT_TRUE(facade.pauseRecorder());
  EXPECT_TRUE(world.captures.journal->events().empty());
  EXPECT_EQ(facade.stopRecorder(), CloseSummary{});
  EXPECT_FALSE(facade.isPaused);
  EXPECT_THAT(log.text(), HasSubstr("[native_audio_factory] [INFO] switchMicRecorder: false"));
}

TEST(NativeAudioFactory, StopStopsBothCapturesBeforeClosingAndASecondStopAnswersNoFile) {
  LogCapture log;
  FacadeWorld world;
  Recording rec;
  NativeAudioFactory facade("/d.pa", false, world.dependencies());
  ASSERT_TRUE(facade.startRecorder(false, rec.dir.str(), rec.wav(), rec.opus()));
  auto speaker = world.captures.lastSpeaker;
  // 26 blocks of 40 ms: just over one second of audio.
  for (int i = 0; i < 26; ++i) speaker->deliver(test::constantBlock(0.25f));
  ASSERT_TRUE(facade.pauseRecorder());
  EXPECT_EQ(world.captures.journal->count("mic.pause"), 2u);  // once at start, once now
  EXPECT_EQ(world.captures.journal->count("speaker.pause"), 1u);

  const CloseSummary summary = facade.stopRecorder();
  EXPECT_EQ(summary.success, 0);
  EXPECT_EQ(summary.duration, 1000);
  EXPECT_EQ(summary.size, 44 + 26 * 1280);
  const auto events = world.captures.journal->events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2], "mic.stop");
  EXPECT_EQ(events.back(), "speaker.stop");
  EXPECT_EQ(test::wavDeclaredDataBytes(test::readFile(rec.wav())), 26u * 1280u);
  EXPECT_FALSE(facade.isPaused);
  EXPECT_FALSE(facade.isRecording);
  EXPECT_FALSE(facade.hasRecording());

  EXPECT_EQ(facade.stopRecorder(), CloseSummary{});
  EXPECT_EQ(world.captures.journal->count("mic.stop"), 1u);
  EXPECT_EQ(facade.wavFilePath, rec.wav());  // kept after the stop
  EXPECT_EQ(log.count("[native_audio_factory] [INFO] stopRecorder..."), 2u);
}

TEST(NativeAudioFactory, CallbacksReceiveOnlyWhatIsProducedAfterBothCapturesStarted) {
  FacadeWorld world;
  Recording rec;
  std::vector<ByteBuffer> pcm;
  std::vector<ByteBuffer> opus;
  // The speaker's first block arrives while the start is still under way.
  auto makers = world.dependencies();
  auto makeSpeaker = makers.captureMakers.makeSpeakerCapture;
  makers.captureMakers.makeSpeakerCapture = [&](const std::string& path) {
    auto capture = makeSpeaker(path);
    world.captures.lastSpeaker->onStart = [](test::FakeRecordingCapture& self) {
      self.deliver(test::constantBlock(0.5f));
    };
    return capture;
  };
  NativeAudioFactory withEarlyBlock("/d.pa", false, makers);
  withEarlyBlock.setPcmCallback([&](const ByteBuffer& b) { pcm.push_back(b); });
  withEarlyBlock.setOpusCallback([&](const ByteBuffer& b) { opus.push_back(b); });
  ASSERT_TRUE(withEarlyBlock.startRecorder(false, rec.dir.str(), rec.wav(), rec.opus()));
  EXPECT_TRUE(pcm.empty());
  EXPECT_TRUE(opus.empty());
  world.captures.lastSpeaker->deliver(test::constantBlock(-0.5f));
  ASSERT_EQ(pcm.size(), 1u);
  EXPECT_EQ(pcm[0].size(), 1280u);
  int16_t first = 0;
  std::memcpy(&first, pcm[0].data(), 2);
  EXPECT_EQ(first, -16383);  // -0.5 x 32767 truncated toward zero
  ASSERT_EQ(opus.size(), 1u);
  const uint8_t* framed = opus[0].data();
  EXPECT_EQ(size_t((framed[0] << 8) | framed[1]) + 2, opus[0].size());
  // Both blocks reached the file, the early one included.
  EXPECT_EQ(withEarlyBlock.stopRecorder().size, 44 + 2 * 1280);
}

TEST(NativeAudioFactory, ARunningRecordingIsFinishedBeforeANewStart) {
  LogCapture log;
  FacadeWorld world;
  Recording first;
  Recording second;
  NativeAudioFactory facade("/d.pa", false, world.dependencies());
  ASSERT_TRUE(facade.startRecorder(false, first.dir.str(), first.wav(), first.opus()));
  auto firstSpeaker = world.captures.lastSpeaker;
  for (int i = 0; i < 3; ++i) firstSpeaker->deliver(test::constantBlock(0.1f));

  world.captures.journal->clear();
  ASSERT_TRUE(facade.startRecorder(false, second.dir.str(), second.wav(), second.opus()));
  const auto events = world.captures.journal->events();
  ASSERT_GE(events.size(), 3u);
  // The old captures stop (output restored) before the new ones start.
  EXPECT_EQ(events[0], "mic.stop");
  EXPECT_EQ(events[1], "speaker.stop");
  EXPECT_EQ(test::wavDeclaredDataBytes(test::readFile(first.wav())), 3u * 1280u);
  // The old capture no longer feeds anything: its factory is closed.
  firstSpeaker->deliver(test::constantBlock(0.1f));
  EXPECT_EQ(test::readFile(first.wav()).size(), 44u + 3 * 1280);

  EXPECT_THAT(log.text(), HasSubstr("[native_audio_factory] [INFO] startRecorder: stopping the running recording"));
}

TEST(NativeAudioFactory, MissingCaptureMakersMakeTheStartFailWithoutFiles) {
  LogCapture log;
  Recording rec;
  NativeAudioFactory facade("/d.pa", true, {{}, [] { return true; }, [](const std::string&) { return 0; }});
  EXPECT_FALSE(facade.startRecorder(true, rec.dir.str(), rec.wav(), rec.opus()));
  EXPECT_FALSE(std::filesystem::exists(rec.wav()));
  EXPECT_EQ(facade.stopRecorder(), CloseSummary{});
  EXPECT_THAT(log.text(), HasSubstr("[native_audio_factory] [ERROR] startRecorder: no microphone capture available"));
}

}  // namespace
}  // namespace quillon
