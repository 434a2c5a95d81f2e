// How long "getResourceUsage" holds the main thread: one reading of procfs,
// with a few extra threads alive as in a recording (capture, writer, link).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/application_monitor.h"
#include "app/proc_self_probe.h"

int main() {
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 16; ++i) {
    threads.emplace_back([&stop] {
      while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
  }

  quillon::ApplicationMonitor monitor(std::make_unique<quillon::ProcSelfProbe>());
  constexpr int kCalls = 2000;
  std::vector<double> micros(kCalls);
  std::string line;
  for (int i = 0; i < kCalls; ++i) {
    const auto start = std::chrono::steady_clock::now();
    line = monitor.getResourceUsage();
    micros[i] = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  }
  stop = true;
  for (auto& thread : threads) thread.join();

  std::sort(micros.begin(), micros.end());
  std::printf("getResourceUsage with %zu threads, %d calls\n", threads.size() + 1, kCalls);
  std::printf("  median %.1f us, p99 %.1f us, max %.1f us\n", micros[kCalls / 2], micros[kCalls * 99 / 100],
              micros.back());
  std::printf("  last line: %s\n", line.c_str());
  return 0;
}
