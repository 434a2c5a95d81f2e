#include <gtest/gtest.h>

#include "capture/pass_through.h"
#include "capture/speaker_capture.h"
#include "fakes/fake_audio_server.h"
#include "support/log_capture.h"

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kPeriod = 3528;  // 20 ms of 44.1 kHz 16-bit stereo

// What the user hears of the capture's periods, each filled with its own number.
class PassThroughTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server->addSink(1, "Speakers");
    ASSERT_TRUE(passThrough.start(1.0f));
  }
  void push() {
    const std::vector<uint8_t> period(kPeriod, ++pushed);
    passThrough.push(period.data(), period.size());
  }
  std::vector<uint8_t> pull() {
    std::vector<uint8_t> out(kPeriod);
    EXPECT_TRUE(server->pullOutput(out.data(), out.size()));
    return out;
  }
  // Two seconds of periods pushed and pulled in step over `queued` held back.
  void steadyWindow(int queued) {
    for (int i = 0; i < queued; ++i) push();
    for (int i = 0; i < 100; ++i) {
      push();
      pull();
    }
    now += std::chrono::seconds(2);
    passThrough.keepShort(now);
  }

  test::LogCapture log;
  std::shared_ptr<test::FakeAudioServer> server = std::make_shared<test::FakeAudioServer>();
  PassThrough passThrough{server, 1, SpeakerCapture::captureFormat()};
  uint8_t pushed = 0;
  Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);
};

TEST_F(PassThroughTest, AQueueThatNeverRanLowForTwoSecondsIsShortenedOnceToThreeMilliseconds) {
  passThrough.keepShort(now);
  steadyWindow(2);  // a late pull left 40 ms waiting for good
  EXPECT_TRUE(log.has("[speaker_capture] [INFO] Pass-through queue never fell below 7056 bytes: 6528 bytes dropped"));
  // What is left is the newest 3 ms, right before the next period.
  push();
  const auto heard = pull();
  EXPECT_EQ(std::count(heard.begin(), heard.begin() + 528, static_cast<uint8_t>(pushed - 1)), 528);
  EXPECT_EQ(std::count(heard.begin() + 528, heard.end(), pushed), kPeriod - 528);

  // From then on the queue runs low and nothing more is dropped.
  steadyWindow(0);
  EXPECT_EQ(log.count("Pass-through queue never fell below"), 1u);
}

TEST_F(PassThroughTest, AQueueThatRanLowOrWasNotPulledIsLeftAlone) {
  passThrough.keepShort(now);
  steadyWindow(0);  // 0 ms left after each pull
  // A player the server stopped pulling: the queue grows, and only the cap
  // on its length trims it.
  for (int i = 0; i < 3; ++i) push();
  now += std::chrono::seconds(2);
  passThrough.keepShort(now);
  EXPECT_FALSE(log.has("Pass-through queue never fell below"));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pull(), std::vector<uint8_t>(kPeriod, static_cast<uint8_t>(pushed - 2 + i)));
}

}  // namespace
}  // namespace quillon
