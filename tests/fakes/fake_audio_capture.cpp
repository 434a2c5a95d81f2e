#include "fakes/fake_audio_capture.h"

namespace quillon::test {

void FakeAudioCapture::setAudioCallback(AudioCallback callback) {
  std::lock_guard lock(_mutex);
  _callback = std::move(callback);
}

void FakeAudioCapture::deliver(const ByteBuffer& block) {
  AudioCallback callback;
  {
    std::lock_guard lock(_mutex);
    callback = _callback;
  }
  if (callback) callback(block);
}

bool FakeAudioCapture::hasCallback() const {
  std::lock_guard lock(_mutex);
  return static_cast<bool>(_callback);
}

}  // namespace quillon::test
