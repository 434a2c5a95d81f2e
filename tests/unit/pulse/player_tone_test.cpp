#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "capture/player_util.h"
#include "pulse_daemon.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

TEST(PassThroughPlayer, PlaysAToneTheMonitorHearsThenSilenceOnUnderrun) {
  test::PulseDaemon daemon;
  ASSERT_TRUE(daemon.start()) << daemon.log();
  auto hardware = daemon.connect();
  const AudioDeviceId speakers = test::idOf(*hardware, "Speakers");

  std::atomic<bool> toneOn{true};
  std::atomic<uint32_t> largestPull{0};
  std::atomic<int> pulls{0};
  uint64_t frame = 0;
  auto fetch = [&](uint32_t n) -> std::vector<uint8_t> {
    ++pulls;
    largestPull = std::max(largestPull.load(), n);
    if (!toneOn) return {};
    std::vector<uint8_t> out(n);
    auto* s = reinterpret_cast<int16_t*>(out.data());
    for (uint32_t i = 0; i < n / 4; ++i, ++frame) {
      s[2 * i] = s[2 * i + 1] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * 1000.0 * frame / 44100.0));
    }
    return out;
  };

  test::MonitorRecorder recorder(*hardware, speakers);
  ASSERT_TRUE(recorder.running());
  PlayerUtil player(speakers, makeLinearPcmFormat(44100, 2, 16, false), fetch, hardware);
  ASSERT_TRUE(player.start());
  EXPECT_NEAR(test::heardFrequency([&] { return recorder.left(); }, 22050, 44100.0), 1000.0, 5.0);
  const auto heard = recorder.left();
  EXPECT_GT(test::peakOf(heard, heard.size() - 4410, 4410), 12000 / 32768.0f);

  // Underrun: the player goes on asking, and the sink plays a quarter second
  // of exact zeros once the queued tone has drained.
  toneOn = false;
  const size_t silentFrom = recorder.left().size();
  const int pullsBefore = pulls;
  EXPECT_TRUE(test::waitFor([&] {
    const auto now = recorder.left();
    size_t run = 0;
    for (size_t i = silentFrom; i < now.size(); ++i) run = now[i] == 0.0f ? run + 1 : 0;
    return run >= 11025;
  }));
  EXPECT_GT(pulls.load(), pullsBefore);
  EXPECT_LE(largestPull.load(), PlayerUtil::kStagingBytes);

  player.stop();
  const int pullsAfterStop = pulls;
  player.stop();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(pulls.load(), pullsAfterStop);
}

TEST(PassThroughPlayer, ServerDyingUnderARunningPlayerAndListenerIsSurvived) {
  test::PulseDaemon daemon;
  ASSERT_TRUE(daemon.start()) << daemon.log();
  auto hardware = daemon.connect();
  const AudioDeviceId speakers = test::idOf(*hardware, "Speakers");
  const auto format = makeLinearPcmFormat(44100, 2, 16, false);
  std::atomic<int> pulls{0};
  PlayerUtil player(speakers, format, [&](uint32_t n) { ++pulls; return std::vector<uint8_t>(n); }, hardware);
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
  PlayerUtil late(speakers, format, [](uint32_t) { return std::vector<uint8_t>{}; }, hardware);
  EXPECT_FALSE(late.start());
}

}  // namespace
}  // namespace quillon
