#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "capture/player_util.h"
#include "pulse_daemon.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

TEST(PassThroughPlayer, ServerDyingUnderARunningPlayerAndListenerIsSurvived) {
  test::PulseDaemon daemon;
  ASSERT_TRUE(daemon.start()) << daemon.log();
  auto hardware = daemon.connect();
  const AudioDeviceId speakers = test::idOf(*hardware, "Speakers");
  const auto format = makeLinearPcmFormat(44100, 2, 16, false);
  std::atomic<int> pulls{0};
  PlayerUtil player(speakers, format, [&](uint8_t*, uint32_t) { ++pulls; return false; }, hardware);
  ASSERT_TRUE(player.start());
  AudioStatus status;
  auto listener = hardware->addDefaultOutputListener([] {}, status);
  ASSERT_TRUE(listener);
  EXPECT_TRUE(test::waitFor([&] { return pulls > 0; }));

  daemon.stop();
  listener.reset();
  player.stop();
  player.stop();
  // A new player on the dead server fails instead of waiting.
  PlayerUtil late(speakers, format, [](uint8_t*, uint32_t) { return false; }, hardware);
  EXPECT_FALSE(late.start());
}

}  // namespace
}  // namespace quillon
