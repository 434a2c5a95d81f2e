#include "recording/native_audio_factory.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "facade_test_support.h"

namespace quillon {
namespace {

// A facade's fakes and a folder for its files.
struct World : test::FacadeWorld {
  test::TempDir dir;
  std::string wav = dir.str() + "/a.wav", opus = dir.str() + "/a.opus";

  std::vector<std::string> events() const { return captures.journal->events(); }
  bool start(NativeAudioFactory& facade, bool mic) { return facade.startRecorder(mic, dir.str(), wav, opus); }
};

TEST(NativeAudioFactory, StartAnswersWhetherTheNeededCapturesStarted) {
  struct Case {
    bool mic, micStarts, speakerStarts, expected;
  };
  for (const Case& c : {Case{true, true, true, true}, Case{true, false, true, false}, Case{true, true, false, false},
                        Case{false, false, true, true}, Case{false, true, false, false}}) {
    World world;
    world.captures.micStarts = c.micStarts;
    world.captures.speakerStarts = c.speakerStarts;
    NativeAudioFactory facade("/d.pa", true, world.dependencies());
    EXPECT_EQ(world.start(facade, c.mic), c.expected) << c.mic << c.micStarts << c.speakerStarts;
    // A failed start keeps its objects: the files exist and the next stop closes them.
    EXPECT_TRUE(std::filesystem::exists(world.wav));
    EXPECT_EQ(facade.stopRecorder().success, 0);
  }
}

TEST(NativeAudioFactory, AnOffMicrophoneIsStartedPausedThenResumedOrStartedAgain) {
  World world;
  NativeAudioFactory facade("/drivers/v.pa", false, world.dependencies());
  ASSERT_TRUE(world.start(facade, false));
  EXPECT_FALSE(facade.isMicRecordingEnabled);
  EXPECT_TRUE(facade.switchMicRecorder(true));
  EXPECT_TRUE(facade.switchMicRecorder(false));
  // A microphone not running (its start failed) is started again, not resumed.
  world.captures.lastMic->stopCapture();
  EXPECT_TRUE(facade.switchMicRecorder(true));

  // Both start at once; the microphone pauses after its own start, so that
  // it is not left listening.
  const std::string start = "start(stage=0,path=" + world.dir.str() + ")";
  auto events = world.events();
  EXPECT_EQ(std::erase(events, "speaker." + start), 1u);
  EXPECT_EQ(events, (std::vector<std::string>{"mic." + start, "mic.pause", "mic.resume", "mic.pause", "mic.stop",
                                              "mic." + start}));
}

TEST(NativeAudioFactory, CallbacksReceiveOnlyWhatIsProducedAfterBothCapturesStarted) {
  World world;
  std::vector<ByteBuffer> pcm, opus;
  // The speaker's first block arrives while the start is still under way.
  world.captures.onSpeakerStart = [](test::FakeRecordingCapture& self) { self.deliver(test::constantBlock(0.5f)); };
  NativeAudioFactory facade("/d.pa", false, world.dependencies());
  facade.setPcmCallback([&](const ByteBuffer& b) { pcm.push_back(b); });
  facade.setOpusCallback([&](const ByteBuffer& b) { opus.push_back(b); });
  ASSERT_TRUE(world.start(facade, false));
  world.captures.lastSpeaker->deliver(test::constantBlock(-0.5f));
  // The later block only.
  ASSERT_EQ(pcm.size(), 1u);
  EXPECT_EQ(pcm[0].size(), 1280u);
  EXPECT_EQ(opus.size(), 1u);
  // Both blocks reached the file, the early one included.
  EXPECT_EQ(facade.stopRecorder().size, 44 + 2 * 1280);
}

TEST(NativeAudioFactory, ARunningRecordingIsFinishedBeforeANewStart) {
  World first, second;
  NativeAudioFactory facade("/d.pa", false, first.dependencies());
  ASSERT_TRUE(first.start(facade, false));
  auto firstSpeaker = first.captures.lastSpeaker;
  for (int i = 0; i < 3; ++i) firstSpeaker->deliver(test::constantBlock(0.1f));

  const size_t earlier = first.events().size();
  ASSERT_TRUE(facade.startRecorder(false, second.dir.str(), second.wav, second.opus));
  const auto events = first.events();
  ASSERT_GE(events.size(), earlier + 3);
  // The old captures stop (output restored) before the new ones start, and
  // the old file is closed whole: a late block of the old capture adds nothing.
  EXPECT_EQ(events[earlier], "mic.stop");
  EXPECT_EQ(events[earlier + 1], "speaker.stop");
  firstSpeaker->deliver(test::constantBlock(0.1f));
  EXPECT_EQ(test::readFile(first.wav).size(), 44u + 3 * 1280);
}

}  // namespace
}  // namespace quillon
