#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/process_probe.h"

namespace quillon {

// The process's memory footprint and processor use as one line of text, for
// the engine's "getResourceUsage".
//
// Linux keeps no instantaneous per-thread usage, only the processor time each
// thread has used so far. The monitor therefore reports the usage over the
// window since an earlier reading: the first reading covers the process's
// whole life, later ones the time since the last reading that was at least
// kMinimumWindowSeconds old (shorter windows would be mostly clock-tick noise).
// A reading only reads procfs, so the caller is never held for long.
class ApplicationMonitor {
 public:
  static constexpr double kMinimumWindowSeconds = 0.5;

  explicit ApplicationMonitor(std::unique_ptr<ProcessProbe> probe);

  // "Memory: %.2f MB | CPU: %.2f%%"; a failed memory read shows 0.00.
  std::string getResourceUsage();
  // Percent of one core summed over the threads that ran; 0.0 when the
  // threads cannot be read. May exceed 100 on several cores.
  double getCPUUsagePercent();

 private:
  std::mutex mutex_;
  std::unique_ptr<ProcessProbe> probe_;
  std::optional<CpuSample> baseline_;
};

std::string formatResourceLine(double memoryMegabytes, double cpuPercent);

// Usage between two readings: each thread's processor time gained in the
// window over the window's length, times 100, summed. Threads that gained
// nothing add nothing; a thread born in the window counts from zero.
double cpuPercentBetween(const CpuSample& earlier, const CpuSample& later);

}  // namespace quillon
