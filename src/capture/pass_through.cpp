#include "capture/pass_through.h"

#include <algorithm>

#include "logging/logger.h"

namespace quillon {
namespace {

constexpr const char* kTag = "speaker_capture";
// The queue is held between these (40 to 100 ms of audio): deep enough for
// the player's pulls, shallow enough that a burst from a server that woke
// late never leaves the user listening seconds behind.
constexpr size_t kMaxBytes = 17640;
constexpr size_t kKeepBytes = 7056;
// A queue whose least over a window stayed above 10 ms is shortened to 3 ms:
// on a quiet machine it runs down to 1-4 ms between the capture's periods.
constexpr auto kShortenWindow = std::chrono::seconds(2);
constexpr size_t kShortenAboveBytes = 1764;
constexpr size_t kShortenToBytes = 528;
// A gain above this would only amplify the noise of a sink set almost
// silent; the user's device volume is that low then anyway.
constexpr float kMaxGain = 10.0f;

}  // namespace

PassThrough::PassThrough(std::shared_ptr<AudioServer> server, AudioDeviceId device,
                         const AudioStreamBasicDescription& format)
    : _buffer(std::make_shared<PassThroughFifo>()), frameBytes_(std::max<size_t>(format.mBytesPerFrame, 1)) {
  // The fetch block holds the queue, never the capture.
  std::shared_ptr<PassThroughFifo> fifo = _buffer;
  _playerUtil = std::make_unique<PlayerUtil>(
      device, format, [fifo](uint8_t* out, uint32_t bytes) { return fifo->take(out, bytes); }, std::move(server));
}

PassThrough::~PassThrough() { stop(); }

bool PassThrough::start(float loopbackVolume) {
  if (!_playerUtil->start()) {
    Logger::shared().errorWithTag(kTag, "PlayerUtil failed to start!");
    return false;
  }
  // The loopback's volume is already in what the monitor delivers: the
  // pass-through undoes it, and the user's own device volume applies once.
  const float gain = loopbackVolume > 1.0f / kMaxGain ? 1.0f / loopbackVolume : kMaxGain;
  const bool gainSet = _playerUtil->setVolume(gain);
  Logger::shared().info(kTag, "Set Player volume (ch1) to %.3f: %s", gain, gainSet ? "success" : "fail");
  Logger::shared().infoWithTag(kTag, "PlayerUtil started successfully");
  return true;
}

void PassThrough::push(const uint8_t* data, size_t bytes) {
  size_t held = 0;
  if (_buffer->append(data, bytes, held)) {
    _buffer->trim(kMaxBytes, kKeepBytes);
    return;
  }
  // The player is not keeping up: it skips the period, but the recording
  // keeps it. Said by the worker, not here.
  if (skips_.load(std::memory_order_relaxed) == 0) {
    firstSkip_.store(static_cast<uint64_t>(held) << 32 | (bytes & 0xFFFFFFFFu), std::memory_order_relaxed);
  }
  skips_.fetch_add(1, std::memory_order_release);
}

void PassThrough::reportSkips() {
  const uint64_t skips = skips_.exchange(0, std::memory_order_acquire);
  if (skips > 0 && !overflowing_) {
    const uint64_t first = firstSkip_.load(std::memory_order_relaxed);
    Logger::shared().warning(kTag, "Speaker buffer too large (%lu), dropping %lu bytes",
                             static_cast<unsigned long>(first >> 32), static_cast<unsigned long>(first & 0xFFFFFFFFu));
  }
  overflowing_ = skips > 0;
}

void PassThrough::keepShort(std::chrono::steady_clock::time_point now) {
  if (windowStart_ == std::chrono::steady_clock::time_point{}) {
    windowStart_ = now;
    _buffer->lowWater();  // what came before the first window does not count
    return;
  }
  if (now - windowStart_ < kShortenWindow) return;
  windowStart_ = now;
  const size_t low = _buffer->lowWater();
  if (low == PassThroughFifo::kNoTake || low <= kShortenAboveBytes) return;
  const size_t dropped = _buffer->dropOldest((low - kShortenToBytes) / frameBytes_ * frameBytes_);
  Logger::shared().info(kTag, "Pass-through queue never fell below %zu bytes: %zu bytes dropped", low, dropped);
}

void PassThrough::stop() {
  _playerUtil->stop();
  _buffer->clear();
}

}  // namespace quillon
