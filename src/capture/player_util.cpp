#include "capture/player_util.h"

#include <algorithm>
#include <cstring>

namespace quillon {

PlayerUtil::PlayerUtil(AudioDeviceId outputDevice, const AudioStreamBasicDescription& streamFormat,
                       FetchBlock fetchData, std::shared_ptr<AudioServer> server)
    : _deviceId(outputDevice),
      _sourceFormat(streamFormat),
      _fetchCallback(std::move(fetchData)),
      _tempBuffer(std::make_unique<uint8_t[]>(kStagingBytes)),
      sliceBytes_(std::max<size_t>(static_cast<size_t>(streamFormat.mSampleRate / kSlicesPerSecond), 1) *
                  streamFormat.mBytesPerFrame),
      server_(std::move(server)) {}

PlayerUtil::~PlayerUtil() { stop(); }

bool PlayerUtil::start() {
  if (!_tempBuffer || stream_ || !server_) return false;
  AudioStatus status = AudioStatus::ok;
  stream_ = server_->openPlaybackStream(
      _deviceId, _sourceFormat, kStagingBytes,
      [this](uint8_t* out, size_t bytes) { render(out, bytes); }, status);
  return stream_ != nullptr && status == AudioStatus::ok;
}

bool PlayerUtil::setVolume(float volume) { return stream_ && stream_->setVolume(volume) == AudioStatus::ok; }

void PlayerUtil::stop() {
  if (stream_) {
    stream_->stop();
    stream_.reset();
  }
  _tempBuffer.reset();
}

void PlayerUtil::render(uint8_t* out, size_t bytes) {
  const size_t frame = _sourceFormat.mBytesPerFrame;
  // Never more than the staging buffer holds, and whole frames only.
  const size_t wanted = frame == 0 ? 0 : std::min(bytes, kStagingBytes) / frame * frame;
  // Fetched a slice at a time: a queue a little short of the request plays
  // what it has and only the missing slices as silence. Whatever silence goes
  // out stays in the pass-through's delay for good, so a whole request of it
  // for a few missing milliseconds would leave the user that much further behind.
  size_t filled = 0;
  while (filled < wanted && _fetchCallback && _tempBuffer) {
    const size_t piece = std::min(sliceBytes_, wanted - filled);
    if (!_fetchCallback(_tempBuffer.get(), static_cast<uint32_t>(piece))) break;
    std::memcpy(out + filled, _tempBuffer.get(), piece);
    filled += piece;
  }
  std::memset(out + filled, 0, bytes - filled);
}

}  // namespace quillon
