#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <numbers>
#include <string>
#include <vector>

#include "logging/logger.h"
#include "recording/byte_buffer.h"
#include "support/test_support.h"

namespace quillon::test {

inline ByteBuffer floatsToBuffer(const std::vector<float>& samples) {
  return ByteBuffer::copyOf(samples.data(), samples.size() * sizeof(float));
}

inline std::vector<float> bytesToFloats(const uint8_t* data, size_t size) {
  std::vector<float> out(size / sizeof(float));
  if (!out.empty()) std::memcpy(out.data(), data, out.size() * sizeof(float));
  return out;
}

inline std::vector<float> bytesToFloats(const std::vector<uint8_t>& bytes) {
  return bytesToFloats(bytes.data(), bytes.size());
}

inline std::vector<int16_t> bytesToInt16(const std::string& bytes, size_t offset = 0) {
  std::vector<int16_t> out((bytes.size() - offset) / 2);
  if (!out.empty()) std::memcpy(out.data(), bytes.data() + offset, out.size() * 2);
  return out;
}

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
template <typename T>
double toneAmplitude(const std::vector<T>& x, double frequency, double rate, double scale = 1.0) {
  const double w = 2.0 * std::numbers::pi * frequency / rate;
  const double coeff = 2.0 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (const T& v : x) {
    const double s0 = double(v) * scale + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return 2.0 * std::sqrt(std::max(power, 0.0)) / double(x.size());
}

// Routes the shared logger into a fresh folder for one test and reads it back.
class LogCapture {
 public:
  LogCapture() { Logger::shared().configure(_dir.str(), true); }
  ~LogCapture() { Logger::shared().configure(std::nullopt, false); }
  std::string text() {
    Logger::shared().flush();
    return readFile(Logger::shared().currentLogFilePath());
  }
  size_t count(const std::string& needle) {
    const std::string all = text();
    size_t n = 0;
    for (size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) ++n;
    return n;
  }

 private:
  TempDir _dir;
};

// Full path of an outside tool, or a failure naming the package that brings it.
inline std::string requireTool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string rest = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= rest.size()) {
    const size_t end = rest.find(':', start);
    const std::string dir = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::filesystem::path candidate = std::filesystem::path(dir) / name;
    if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate.string();
    if (end == std::string::npos) break;
    start = end + 1;
  }
  ADD_FAILURE() << "'" << name << "' is not installed; run scripts/install-deps.sh";
  return {};
}

}  // namespace quillon::test
