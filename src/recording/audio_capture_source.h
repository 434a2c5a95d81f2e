#pragma once

#include "recording/samples.h"

namespace quillon {

// What the recording chain needs of a capture (microphone or system audio).
//
// A capture delivers every captured period, already converted to float mono
// samples at 16 000 Hz (see Mono16kConverter) and placed on the recording's
// timeline, by calling the callback it was given, one block per call, in
// capture order, from the recording's worker (or, for a capture used without
// one, from its stream's thread). The span is valid during the call only.
//
// setAudioCallback stores a copy of the callback and replaces any earlier one;
// an empty callback clears it. It may be called while the capture runs, so the
// capture must swap the slot safely against its delivering thread. Whoever
// installs a callback may rely on the capture keeping it, and whatever the
// callback holds, until it is replaced or the capture is destroyed.
class AudioCaptureSource {
 public:
  virtual ~AudioCaptureSource() = default;
  virtual void setAudioCallback(SampleCallback callback) = 0;
};

}  // namespace quillon
