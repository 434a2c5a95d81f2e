#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "capture/player_util.h"
#include "pulse_daemon.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

// Listens on a sink's monitor, keeping the left channel.
class MonitorRecorder {
 public:
  MonitorRecorder(AudioHardware& hardware, AudioDeviceId sink) {
    AudioStatus status;
    stream_ = hardware.openInputStream(
        sink, makeLinearPcmFormat(44100, 2, 16, false), 4096,
        [this](const uint8_t* data, size_t bytes) {
          std::lock_guard lock(mutex_);
          const auto* samples = reinterpret_cast<const int16_t*>(data);
          for (size_t i = 0; i + 1 < bytes / 2; i += 2) left_.push_back(samples[i]);
        },
        status);
  }
  bool running() const { return stream_ != nullptr; }
  std::vector<int16_t> left() {
    std::lock_guard lock(mutex_);
    return left_;
  }

 private:
  std::mutex mutex_;
  std::vector<int16_t> left_;
  std::unique_ptr<AudioStream> stream_;
};

// Index of the first nonzero sample from `from` on, or npos.
size_t firstSound(const std::vector<int16_t>& s, size_t from) {
  for (size_t i = from; i < s.size(); ++i) {
    if (s[i] != 0) return i;
  }
  return std::string::npos;
}

TEST(PassThroughPlayer, PlaysAToneTheMonitorHearsThenSilenceOnUnderrun) {
  test::PulseDaemon daemon;
  ASSERT_TRUE(daemon.start()) << daemon.log();
  auto hardware = daemon.connect();
  std::vector<AudioDeviceId> ids;
  ASSERT_EQ(hardware->devices(ids), AudioStatus::ok);
  const AudioDeviceId speakers = ids[0];

  constexpr double kRate = 44100.0, kTone = 1000.0;
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
      auto v = static_cast<int16_t>(16000 * std::sin(2 * M_PI * kTone * frame / kRate));
      s[2 * i] = s[2 * i + 1] = v;
    }
    return out;
  };

  MonitorRecorder recorder(*hardware, speakers);
  ASSERT_TRUE(recorder.running());
  PlayerUtil player(speakers, makeLinearPcmFormat(kRate, 2, 16, false), fetch, hardware);
  ASSERT_TRUE(player.start());

  // Half a second of tone after the first sound reached the monitor.
  const size_t span = 22050;
  size_t start = std::string::npos;
  std::vector<int16_t> heard;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline) {
    heard = recorder.left();
    start = firstSound(heard, 0);
    if (start != std::string::npos && heard.size() >= start + 2205 + span) break;
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_NE(start, std::string::npos) << "the monitor heard nothing";
  ASSERT_GE(heard.size(), start + 2205 + span);
  int rising = 0, peak = 0;
  for (size_t i = start + 2205; i < start + 2205 + span; ++i) {
    if (heard[i - 1] < 0 && heard[i] >= 0) ++rising;
    peak = std::max(peak, std::abs(static_cast<int>(heard[i])));
  }
  EXPECT_NEAR(rising / (span / kRate), kTone, 20.0);
  EXPECT_GT(peak, 12000);

  // Underrun: the player goes on asking, and the sink plays silence.
  toneOn = false;
  const size_t silentFrom = recorder.left().size();
  const int pullsBefore = pulls;
  bool silent = false;
  const auto deadline2 = std::chrono::steady_clock::now() + 30s;
  while (!silent && std::chrono::steady_clock::now() < deadline2) {
    std::this_thread::sleep_for(50ms);
    heard = recorder.left();
    // A quarter second of exact zeros once the queued tone has drained.
    size_t run = 0;
    for (size_t i = silentFrom; i < heard.size(); ++i) run = heard[i] == 0 ? run + 1 : 0;
    silent = run >= 11025;
  }
  EXPECT_TRUE(silent);
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
  std::vector<AudioDeviceId> ids;
  ASSERT_EQ(hardware->devices(ids), AudioStatus::ok);
  std::atomic<int> pulls{0};
  PlayerUtil player(ids[0], makeLinearPcmFormat(44100, 2, 16, false),
                    [&](uint32_t n) { ++pulls; return std::vector<uint8_t>(n); }, hardware);
  ASSERT_TRUE(player.start());
  AudioStatus status;
  auto listener = hardware->addDefaultOutputListener([] {}, status);
  ASSERT_TRUE(listener);
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (pulls == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  EXPECT_GT(pulls.load(), 0);

  daemon.stop();
  listener.reset();
  player.stop();
  player.stop();
  // A new player on the dead server fails instead of waiting.
  PlayerUtil late(ids[0], makeLinearPcmFormat(44100, 2, 16, false),
                  [](uint32_t) { return std::vector<uint8_t>{}; }, hardware);
  EXPECT_FALSE(late.start());
}

}  // namespace
}  // namespace quillon
