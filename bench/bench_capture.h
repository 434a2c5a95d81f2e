#pragma once

#include <utility>

#include "recording/audio_capture_source.h"

namespace quillon::bench {

// A capture the benchmark feeds by hand, block by block, on its own thread.
class FedCapture : public AudioCaptureSource {
 public:
  void setAudioCallback(SampleCallback callback) override { callback_ = std::move(callback); }
  void deliver(std::span<const float> block) {
    if (callback_) callback_(block);
  }

 private:
  SampleCallback callback_;
};

}  // namespace quillon::bench
