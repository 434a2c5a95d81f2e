#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "recording/recording_capture.h"

namespace quillon::test {

// Keeps every float sample a capture delivers.
class SampleCollector {
 public:
  SampleCallback callback() {
    return [this](std::span<const float> block) {
      std::lock_guard lock(mutex_);
      samples_.insert(samples_.end(), block.begin(), block.end());
    };
  }
  std::vector<float> samples() {
    std::lock_guard lock(mutex_);
    return samples_;
  }
  size_t count() {
    std::lock_guard lock(mutex_);
    return samples_.size();
  }

 private:
  std::mutex mutex_;
  std::vector<float> samples_;
};

// `frames` of a 16-bit sine, the same value on every channel, continuing at `phase`.
inline std::vector<uint8_t> sinePeriod(double frequency, double rate, uint32_t channels, size_t frames,
                                       uint64_t& phase, double amplitude = 0.5) {
  std::vector<int16_t> pcm;
  for (size_t i = 0; i < frames; ++i, ++phase) {
    const auto v = static_cast<int16_t>(32767.0 * amplitude * std::sin(2 * M_PI * frequency * phase / rate));
    pcm.insert(pcm.end(), channels, v);
  }
  std::vector<uint8_t> bytes(pcm.size() * 2);
  std::memcpy(bytes.data(), pcm.data(), bytes.size());
  return bytes;
}

// Frequency from the mean spacing of upward zero crossings.
inline double toneFrequency(const std::vector<float>& s, double rate) {
  std::vector<double> crossings;
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i - 1] < 0.0f && s[i] >= 0.0f) crossings.push_back(i - 1 + s[i - 1] / (s[i - 1] - s[i]));
  }
  if (crossings.size() < 3) return 0.0;
  return rate * static_cast<double>(crossings.size() - 1) / (crossings.back() - crossings.front());
}

struct WavHeader {
  uint32_t rate = 0;
  uint16_t channels = 0, bits = 0;
  uint32_t dataLength = 0;
};

inline WavHeader readWavHeader(const std::string& path) {
  WavHeader h;
  std::ifstream in(path, std::ios::binary);
  uint8_t b[44] = {};
  if (!in.read(reinterpret_cast<char*>(b), 44)) return h;
  std::memcpy(&h.channels, b + 22, 2);
  std::memcpy(&h.rate, b + 24, 4);
  std::memcpy(&h.bits, b + 34, 2);
  std::memcpy(&h.dataLength, b + 40, 4);
  return h;
}

}  // namespace quillon::test
