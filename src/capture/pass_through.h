#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "capture/pass_through_fifo.h"
#include "capture/player_util.h"
#include "platform/audio_server.h"

namespace quillon {

// What the user hears while the system output is on the loopback device: the
// captured periods, played on the user's own device through a short queue.
// The capture's stream thread pushes each period as it arrives and the
// player's thread takes it, so the recording's work never sits between them.
// Logs under the capture's tag "speaker_capture".
class PassThrough {
 public:
  PassThrough(std::shared_ptr<AudioServer> server, AudioDeviceId device, const AudioStreamBasicDescription& format);
  ~PassThrough();
  PassThrough(const PassThrough&) = delete;
  PassThrough& operator=(const PassThrough&) = delete;

  // Starts the player at the gain that undoes the loopback sink's volume, so
  // the user's own device volume applies once. False when it cannot play.
  bool start(float loopbackVolume);
  // The stream thread: queues a period for the player, or skips it (for the
  // player only) when the queue is full.
  void push(const uint8_t* data, size_t bytes);
  // The worker: says once per run of skipped periods that the player fell behind.
  void reportSkips();
  // The worker: a queue that never ran low over the last two seconds holds
  // delay the user hears for nothing (a pull the server made late, a burst
  // from the capture), which pulls at the same pace would keep for good.
  // It is shortened once to a small margin; the silence of a pull that then
  // comes up short is shorter than that delay kept for the whole recording.
  void keepShort(std::chrono::steady_clock::time_point now);
  // No pull happens after it returns.
  void stop();

 private:
  std::shared_ptr<PassThroughFifo> _buffer;
  std::unique_ptr<PlayerUtil> _playerUtil;
  // Periods the queue had no room for since the worker last said so, and the
  // first of them: what the queue held (high 32 bits) and the period's length
  // (low 32 bits), one word so the store stays lock-free.
  std::atomic<uint64_t> skips_{0};
  std::atomic<uint64_t> firstSkip_{0};
  bool overflowing_ = false;  // the worker only
  size_t frameBytes_;
  std::chrono::steady_clock::time_point windowStart_{};  // the worker only
};

}  // namespace quillon
