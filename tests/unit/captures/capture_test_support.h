#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../pulse/pulse_daemon.h"
#include "recording/byte_buffer.h"

namespace quillon::test {

using namespace std::chrono_literals;

inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// Keeps every float sample a capture delivers.
class SampleCollector {
 public:
  AudioCallback callback() {
    return [this](const ByteBuffer& block) {
      std::lock_guard lock(mutex_);
      const size_t count = block.size() / sizeof(float);
      const size_t old = samples_.size();
      samples_.resize(old + count);
      if (count) std::memcpy(samples_.data() + old, block.data(), count * sizeof(float));
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

// Frequency from the median spacing of upward zero crossings over
// [from, from + count): a gap from a late scheduler does not move it.
inline double toneFrequency(const std::vector<float>& s, size_t from, size_t count, double rate) {
  std::vector<double> crossings, spacing;
  for (size_t i = from + 1; i < from + count && i < s.size(); ++i) {
    if (s[i - 1] < 0.0f && s[i] >= 0.0f) crossings.push_back(i - 1 + s[i - 1] / (s[i - 1] - s[i]));
  }
  for (size_t i = 1; i < crossings.size(); ++i) spacing.push_back(crossings[i] - crossings[i - 1]);
  if (spacing.size() < 3) return 0.0;
  std::nth_element(spacing.begin(), spacing.begin() + spacing.size() / 2, spacing.end());
  return rate / spacing[spacing.size() / 2];
}

inline float peakOf(const std::vector<float>& s, size_t from, size_t count) {
  float peak = 0.0f;
  for (size_t i = from; i < from + count && i < s.size(); ++i) peak = std::max(peak, std::fabs(s[i]));
  return peak;
}

// Writes a sine tone into the daemon's pipe-fed microphone (s16le mono
// 48 kHz) at real-time pace until stopped.
class MicFeeder {
 public:
  MicFeeder(const PulseDaemon& daemon, double frequency, double amplitude)
      : fifo_(daemon.server().substr(5, daemon.server().size() - 5 - 7) + "/mic.fifo"),
        frequency_(frequency),
        amplitude_(amplitude) {
    thread_ = std::thread([this] { run(); });
  }
  ~MicFeeder() { stop(); }
  void stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }

 private:
  void run() {
    const int fd = ::open(fifo_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    constexpr int kRate = 48000, kChunk = 960;  // 20 ms
    std::vector<int16_t> chunk(kChunk);
    uint64_t frame = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; running_; ++i) {
      for (auto& v : chunk) {
        v = static_cast<int16_t>(32767.0 * amplitude_ * std::sin(2 * M_PI * frequency_ * frame++ / kRate));
      }
      if (::write(fd, chunk.data(), sizeof(int16_t) * chunk.size()) < 0) break;
      std::this_thread::sleep_until(start + std::chrono::milliseconds(20 * (i + 1)));
    }
    ::close(fd);
  }

  std::string fifo_;
  double frequency_, amplitude_;
  std::atomic<bool> running_{true};
  std::thread thread_;
};

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
