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
  // Two seconds of periods pushed and pulled in step, over what the queue held.
  void steadyWindow() {
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

TEST_F(PassThroughTest, OnlyAQueueThatNeverRanLowForTwoSecondsIsShortenedOnceToThreeMilliseconds) {
  passThrough.keepShort(now);
  steadyWindow();  // down to 0 ms after each pull: left alone
  // A player the server stopped pulling: the queue grows, and only the cap
  // on its length trims it.
  for (int i = 0; i < 3; ++i) push();
  now += std::chrono::seconds(2);
  passThrough.keepShort(now);
  EXPECT_FALSE(log.has("Pass-through queue never fell below"));

  steadyWindow();  // the pulls come again but 60 ms stay waiting
  EXPECT_TRUE(log.has("[speaker_capture] [INFO] Pass-through queue never fell below 10584 bytes: 10056 bytes dropped"));
  // What is left is the newest 3 ms, right before the next period.
  push();
  const auto heard = pull();
  EXPECT_EQ(std::count(heard.begin(), heard.begin() + 528, static_cast<uint8_t>(pushed - 1)), 528);
  EXPECT_EQ(std::count(heard.begin() + 528, heard.end(), pushed), kPeriod - 528);
  steadyWindow();
  EXPECT_EQ(log.count("Pass-through queue never fell below"), 1u);
}

}  // namespace
}  // namespace quillon
