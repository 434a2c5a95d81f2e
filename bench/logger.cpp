// Caller-side cost of a logging call while the writer thread is busy syncing
// the day file: what an audio thread pays for a log line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "logging/logger.h"

int main() {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("quillon-bench-logger-" + std::to_string(::getpid()));
  quillon::Logger logger([](const std::string&) {});
  logger.configure(dir.string(), true);

  constexpr int kCalls = 100000;
  std::vector<double> micros(kCalls);
  for (int i = 0; i < kCalls; ++i) {
    const auto start = std::chrono::steady_clock::now();
    logger.info("bench", "[sendUsbBytesData] [Send End] path=%s, written=%d, duration=%.2f ms", "/dev/ttyACM0", i, 0.25);
    const auto end = std::chrono::steady_clock::now();
    micros[i] = std::chrono::duration<double, std::micro>(end - start).count();
  }
  const auto flushStart = std::chrono::steady_clock::now();
  logger.flush();
  const double flushMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - flushStart).count();

  std::vector<double> sorted = micros;
  std::sort(sorted.begin(), sorted.end());
  const auto at = [&](double q) { return sorted[static_cast<size_t>(q * (sorted.size() - 1))]; };
  std::printf("logger caller cost over %d calls (writer syncing in the background)\n", kCalls);
  std::printf("  median  %.3f us   (goal < 1 us)\n", at(0.5));
  std::printf("  p99     %.3f us\n", at(0.99));
  std::printf("  p99.99  %.3f us\n", at(0.9999));
  std::printf("  max     %.3f us   (goal < 1000 us)\n", sorted.back());
  std::printf("  writer drained the rest in %.1f ms\n", flushMs);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
