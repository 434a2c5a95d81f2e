#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recording/samples.h"
#include "recording/wav_util.h"

namespace quillon {

// Helpers both captures share for their stage WAV files (the untouched device
// signal and the converted 16 kHz signal).

// Writes float samples as 16-bit, the recording path's one rounding rule.
inline void writeFloatsAsPcm16(WavUtil& wav, std::span<const float> samples, std::vector<int16_t>& scratch) {
  floatsToPcm16(samples, scratch);
  wav.writeSamples(scratch.data(), scratch.size());
}

// A stage writer in `folder`, or nothing without a folder.
inline std::unique_ptr<WavUtil> openStageFile(const std::optional<std::string>& folder, const char* name,
                                              int32_t sampleRate, int32_t channels) {
  if (!folder || folder->empty()) return nullptr;
  std::string path = *folder;
  if (path.back() != '/') path += '/';
  return std::make_unique<WavUtil>(path + name, sampleRate, channels, 16);
}

}  // namespace quillon
