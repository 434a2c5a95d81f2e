#pragma once

#include <mutex>

#include "recording/audio_capture_source.h"

namespace quillon::test {

// A capture whose blocks the test delivers by hand, from whatever thread it
// chooses, the way a real capture's audio thread would.
class FakeAudioCapture : public AudioCaptureSource {
 public:
  void setAudioCallback(AudioCallback callback) override;
  // Calls the installed callback, if any, with the block.
  void deliver(const ByteBuffer& block);
  bool hasCallback() const;

 private:
  mutable std::mutex _mutex;
  AudioCallback _callback;
};

}  // namespace quillon::test
