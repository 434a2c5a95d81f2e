#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/microphone_permission.h"
#include "recording/recording_capture.h"
#include "support/test_support.h"

namespace quillon::test {

// Keeps every float sample a capture delivers; without a recording worker
// the capture delivers on the thread that pushes its periods.
inline SampleCallback collectInto(std::vector<float>& samples) {
  return [&samples](std::span<const float> block) { samples.insert(samples.end(), block.begin(), block.end()); };
}

// `frames` of a 16-bit sine at half scale, the same value on every channel, continuing at `phase`.
inline std::vector<uint8_t> sinePeriod(double frequency, double rate, uint32_t channels, size_t frames,
                                       uint64_t& phase) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < frames; ++i, ++phase) {
    const auto v = static_cast<int16_t>(16383.0 * std::sin(2 * M_PI * frequency * phase / rate));
    for (uint32_t c = 0; c < channels; ++c) {
      bytes.push_back(static_cast<uint8_t>(v));
      bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
  }
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

// A WAV file's little-endian 32-bit field at `offset`.
constexpr size_t kWavRate = 24, kWavDataLength = 40;
inline uint32_t wavField(const std::string& path, size_t offset) {
  const std::string file = readFile(path);
  uint32_t value = 0;
  if (file.size() >= offset + 4) std::memcpy(&value, file.data() + offset, 4);
  return value;
}

// A permission in a state of the test's choosing that counts the requests and
// answers them with `grant`.
struct ScriptedPermission final : MicrophonePermission {
  ScriptedPermission(MicrophonePermissionState state, bool grant) : current(state), grant(grant) {}
  MicrophonePermissionState state() override { return current; }
  bool requestAccess() override {
    ++requests;
    return grant;
  }
  MicrophonePermissionState current;
  bool grant;
  int requests = 0;
};

}  // namespace quillon::test
