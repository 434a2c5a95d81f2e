#pragma once

#include "recording/byte_buffer.h"

namespace quillon {

// What the recording chain needs of a capture (microphone or system audio).
//
// A capture delivers every captured period, already converted to 32-bit float
// mono samples at 16 000 Hz (see Mono16kConverter), by calling the callback it
// was given from its own audio thread, one block per call, in capture order.
// Blocks may have any length, including 0 or a count of bytes that is not a
// multiple of 4; receivers use whole samples only.
//
// setAudioCallback stores a copy of the callback and replaces any earlier one;
// an empty callback clears it. It may be called while the capture runs, so the
// capture must swap the slot safely against its audio thread (for example under
// the lock it takes around each delivery). Whoever installs a callback may rely
// on the capture keeping it, and whatever the callback holds, until it is
// replaced or the capture is destroyed.
class AudioCaptureSource {
 public:
  virtual ~AudioCaptureSource() = default;
  virtual void setAudioCallback(AudioCallback callback) = 0;
};

}  // namespace quillon
