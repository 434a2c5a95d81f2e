#pragma once

#include <cstdint>
#include <optional>

#include "platform/audio_stream_format.h"

namespace quillon {

// Sinks and sources are numbered separately by the server, so the device
// identifier keeps them apart with its top bit: a sink with index n is n + 1,
// a source with index n is 0x80000000 | (n + 1). 0 stays "no device".
inline constexpr uint32_t kPulseSourceIdFlag = 0x80000000u;
inline constexpr uint32_t kPulseMaxIndex = 0x7FFFFFFEu;

struct PulseDeviceRef {
  bool isSource = false;
  uint32_t index = 0;
};

inline AudioDeviceId pulseSinkDeviceId(uint32_t index) {
  return index > kPulseMaxIndex ? kNoAudioDevice : index + 1;
}

inline AudioDeviceId pulseSourceDeviceId(uint32_t index) {
  return index > kPulseMaxIndex ? kNoAudioDevice : (kPulseSourceIdFlag | (index + 1));
}

inline std::optional<PulseDeviceRef> decodePulseDeviceId(AudioDeviceId id) {
  uint32_t number = id & ~kPulseSourceIdFlag;
  if (number == 0) return std::nullopt;
  return PulseDeviceRef{(id & kPulseSourceIdFlag) != 0, number - 1};
}

}  // namespace quillon
