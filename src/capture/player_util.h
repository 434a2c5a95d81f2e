#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/audio_server.h"

namespace quillon {

// Plays PCM pulled on demand from a fetch block on one output device; the
// audio server converts from the source format to the device's. The device's
// clock paces the pulls. A player is started at most once.
class PlayerUtil {
 public:
  // Writes exactly `byteCount` bytes, oldest first, to `out`, or answers false
  // when it has not got that many. Called on the audio thread; must not wait
  // or allocate.
  using FetchBlock = std::function<bool(uint8_t* out, uint32_t byteCount)>;
  static constexpr size_t kStagingBytes = 4096;
  static constexpr double kSlicesPerSecond = 500.0;

  PlayerUtil(AudioDeviceId outputDevice, const AudioStreamBasicDescription& streamFormat,
             FetchBlock fetchData, std::shared_ptr<AudioServer> server);
  ~PlayerUtil();
  PlayerUtil(const PlayerUtil&) = delete;
  PlayerUtil& operator=(const PlayerUtil&) = delete;

  bool start();
  // Idempotent; no pull happens after it returns.
  void stop();
  // The pass-through's own volume on its device (1.0 = 100 %); after start.
  bool setVolume(float volume);

  // Fills `bytes` bytes of output from fetches of 2 ms each, up to the staging
  // size, and silence from the first fetch that comes up short. Called by the
  // stream on the audio thread.
  void render(uint8_t* out, size_t bytes);

 private:
  AudioDeviceId _deviceId;
  AudioStreamBasicDescription _sourceFormat;
  FetchBlock _fetchCallback;
  std::unique_ptr<uint8_t[]> _tempBuffer;
  size_t sliceBytes_;  // whole frames
  std::shared_ptr<AudioServer> server_;
  std::unique_ptr<AudioStream> stream_;
};

}  // namespace quillon
