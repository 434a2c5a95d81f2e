#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "support/log_capture.h"

namespace quillon::test {

// Reinterprets the bytes of one sample type as another (float <-> bytes <-> int16).
template <typename To, typename From>
std::vector<To> recast(const From& from) {
  std::vector<To> out(from.size() * sizeof(from[0]) / sizeof(To));
  if (!out.empty()) std::memcpy(out.data(), from.data(), out.size() * sizeof(To));
  return out;
}

// The bytes of samples as a file holds them, and a little-endian field of a file.
template <typename T>
std::string bytesOf(const std::vector<T>& samples) {
  return {reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(T)};
}
inline uint32_t u32At(const std::string& bytes, size_t offset) { return recast<uint32_t>(bytes.substr(offset, 4))[0]; }

// `count` samples of a sine, continuing from sample index `start`.
inline std::vector<float> sine(double frequency, double rate, size_t count, double amplitude, size_t start = 0) {
  std::vector<float> out(count);
  for (size_t i = 0; i < count; ++i) {
    out[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequency * double(start + i) / rate));
  }
  return out;
}

// Amplitude of the `frequency` component of x (Goertzel), for a signal holding
// many periods.
inline double toneAmplitude(const std::vector<float>& x, double frequency, double rate) {
  const double coeff = 2.0 * std::cos(2.0 * std::numbers::pi * frequency / rate);
  double s1 = 0, s2 = 0;
  for (float v : x) {
    const double s0 = double(v) + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return 2.0 * std::sqrt(std::max(s1 * s1 + s2 * s2 - coeff * s1 * s2, 0.0)) / double(x.size());
}

}  // namespace quillon::test
