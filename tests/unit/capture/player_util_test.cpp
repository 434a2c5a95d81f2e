#include <gtest/gtest.h>

#include <numeric>
#include <optional>

#include "capture/player_util.h"
#include "fakes/fake_audio_server.h"

namespace quillon {
namespace {

using test::FakeAudioServer;

class Player : public ::testing::Test {
 protected:
  void SetUp() override { server->addSink(2, "Speakers"); }

  std::unique_ptr<PlayerUtil> makePlayer(PlayerUtil::FetchBlock fetch) {
    return std::make_unique<PlayerUtil>(2, format, std::move(fetch), server);
  }

  const AudioStreamBasicDescription format = makeLinearPcmFormat(44100, 2, 16, false);
  std::shared_ptr<FakeAudioServer> server = std::make_shared<FakeAudioServer>();
};

TEST_F(Player, CopiesOnlyWhatWasAskedNeverMoreThanTheStagingBufferAndSilenceForShortFetches) {
  std::vector<uint32_t> asked;
  bool has = true;  // whether the fetch has the bytes asked for
  auto player = makePlayer([&](uint8_t* out, uint32_t n) {
    asked.push_back(n);
    if (!has) return false;
    std::iota(out, out + n, uint8_t{1});
    return true;
  });
  ASSERT_TRUE(player->start());
  EXPECT_EQ(server->lastMaxPullBytes, PlayerUtil::kStagingBytes);

  std::vector<uint8_t> out(8192, 0xEE);
  ASSERT_TRUE(server->pullOutput(out.data(), 400));
  EXPECT_EQ(asked.back(), 400u);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[399], static_cast<uint8_t>(400));
  EXPECT_EQ(out[400], 0xEE);  // nothing written past the request

  // A request larger than the staging buffer: at most 4096 bytes are fetched,
  // the rest is silence rather than an overrun.
  ASSERT_TRUE(server->pullOutput(out.data(), 8192));
  EXPECT_EQ(asked.back(), PlayerUtil::kStagingBytes);
  EXPECT_EQ(out[4095], static_cast<uint8_t>(4096));
  EXPECT_EQ(out[4096], 0);
  EXPECT_EQ(out[8191], 0);

  // A fetch short of the request is a whole cycle of silence, not a partial one.
  has = false;
  std::fill(out.begin(), out.end(), 0xEE);
  ASSERT_TRUE(server->pullOutput(out.data(), 1024));
  EXPECT_EQ(std::count(out.begin(), out.begin() + 1024, 0), 1024);
}

TEST_F(Player, AFailedStartOrAStopEndsThePulls) {
  server->playbackStatus = AudioStatus::serverUnavailable;
  auto refused = makePlayer([](uint8_t*, uint32_t) { return true; });
  EXPECT_FALSE(refused->start());
  refused->stop();
  EXPECT_EQ(server->openPlaybackStreams, 0);

  server->playbackStatus = AudioStatus::ok;
  auto running = makePlayer([](uint8_t*, uint32_t) { return true; });
  ASSERT_TRUE(running->start());
  running->stop();
  running->stop();
  EXPECT_EQ(server->stoppedPlaybackStreams, 1);
  uint8_t out[64];
  EXPECT_FALSE(server->pullOutput(out, sizeof out));  // nothing pulls after stop
  EXPECT_FALSE(running->start());                       // a stopped player stays stopped
}

}  // namespace
}  // namespace quillon
