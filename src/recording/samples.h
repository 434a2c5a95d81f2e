#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <vector>

#include "recording/pcm16.h"

namespace quillon {

// The recording chain's one sample type: 32-bit float, nominally -1..1. A
// capture turns the device's bytes into these once; from there to the mixer
// and the factory only float spans travel, and 16-bit appears again only at
// the file writers and the engine edge.
using SampleCallback = std::function<void(std::span<const float>)>;

inline float pcm16ToFloat(int16_t sample) { return static_cast<float>(sample) * (1.0f / 32768.0f); }

// Device bytes as float samples; a torn trailing sample is left out.
inline void pcm16BytesToFloats(std::span<const uint8_t> bytes, std::vector<float>& out) {
  out.resize(bytes.size() / sizeof(int16_t));
  for (size_t i = 0; i < out.size(); ++i) {
    int16_t v;
    std::memcpy(&v, bytes.data() + i * sizeof v, sizeof v);
    out[i] = pcm16ToFloat(v);
  }
}

inline void float32BytesToFloats(std::span<const uint8_t> bytes, std::vector<float>& out) {
  out.resize(bytes.size() / sizeof(float));
  if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * sizeof(float));
}

// Float samples as 16-bit by floatToPcm16, the recording path's one rounding rule.
inline void floatsToPcm16(std::span<const float> samples, std::vector<int16_t>& out) {
  out.resize(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) out[i] = floatToPcm16(samples[i]);
}

}  // namespace quillon
