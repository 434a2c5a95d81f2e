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
  bool filled = false;
  if (wanted > 0 && _fetchCallback && _tempBuffer) {
    if (_fetchCallback(_tempBuffer.get(), static_cast<uint32_t>(wanted))) {
      std::memcpy(out, _tempBuffer.get(), wanted);
      filled = true;
    }
  }
  // Underrun: the whole piece is silence and the next pull asks again.
  if (!filled) std::memset(out, 0, bytes);
  else if (wanted < bytes) std::memset(out + wanted, 0, bytes - wanted);
}

}  // namespace quillon
