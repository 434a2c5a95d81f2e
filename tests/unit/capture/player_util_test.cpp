#include <gtest/gtest.h>

#include <numeric>

#include "capture/player_util.h"
#include "fakes/fake_audio_server.h"

namespace quillon {
namespace {

TEST(Player, CopiesOnlyWhatWasAskedNeverMoreThanTheStagingBufferAndSilenceForShortFetches) {
  auto server = std::make_shared<test::FakeAudioServer>();
  server->addSink(2, "Speakers");
  std::vector<uint32_t> asked;
  bool has = true;  // whether the fetch has the bytes asked for
  auto fetch = [&](uint8_t* out, uint32_t n) {
    asked.push_back(n);
    std::iota(out, out + n, uint8_t{1});
    return has;
  };
  PlayerUtil player(2, makeLinearPcmFormat(44100, 2, 16, false), fetch, server);
  ASSERT_TRUE(player.start());
  EXPECT_EQ(server->lastMaxPullBytes, PlayerUtil::kStagingBytes);

  std::vector<uint8_t> out(8192, 0xEE);
  ASSERT_TRUE(server->pullOutput(out.data(), 400));
  EXPECT_EQ(asked.back(), 400u);
  EXPECT_EQ(out[399], static_cast<uint8_t>(400));
  EXPECT_EQ(out[400], 0xEE);  // nothing written past the request

  // A request larger than the staging buffer: at most 4096 bytes are fetched,
  // the rest is silence rather than an overrun.
  ASSERT_TRUE(server->pullOutput(out.data(), 8192));
  EXPECT_EQ(asked.back(), PlayerUtil::kStagingBytes);
  EXPECT_EQ(out[4095], static_cast<uint8_t>(4096));
  EXPECT_EQ(std::count(out.begin() + 4096, out.end(), 0), 4096);

  // A fetch short of the request is a whole cycle of silence, not a partial one.
  has = false;
  ASSERT_TRUE(server->pullOutput(out.data(), 1024));
  EXPECT_EQ(std::count(out.begin(), out.begin() + 1024, 0), 1024);
}

}  // namespace
}  // namespace quillon
