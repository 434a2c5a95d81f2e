#include "app/application_monitor.h"

#include <cstdio>
#include <unordered_map>


namespace quillon {

ApplicationMonitor::ApplicationMonitor(std::unique_ptr<ProcessProbe> probe) : probe_(std::move(probe)) {}

std::string formatResourceLine(double memoryMegabytes, double cpuPercent) {
  char line[128];
  std::snprintf(line, sizeof line, "Memory: %.2f MB | CPU: %.2f%%", memoryMegabytes, cpuPercent);
  return line;
}

double cpuPercentBetween(const CpuSample& earlier, const CpuSample& later) {
  const double window = later.takenAt - earlier.takenAt;
  if (window <= 0.0) return 0.0;
  std::unordered_map<int, double> before;
  for (const ThreadCpuTime& thread : earlier.threads) before[thread.tid] = thread.cpuSeconds;
  double sum = 0.0;
  for (const ThreadCpuTime& thread : later.threads) {
    const auto found = before.find(thread.tid);
    const double gained = thread.cpuSeconds - (found == before.end() ? 0.0 : found->second);
    // A smaller value means the id now names another thread; its gain is unknown.
    if (gained > 0.0) sum += gained / window * 100.0;
  }
  return sum;
}

double ApplicationMonitor::getCPUUsagePercent() {
  std::lock_guard lock(mutex_);
  const std::optional<CpuSample> now = probe_->cpuSample();
  if (!now) return 0.0;
  CpuSample sinceStart;
  sinceStart.takenAt = now->processStartedAt;
  const CpuSample& earlier = baseline_ ? *baseline_ : sinceStart;
  const double percent = cpuPercentBetween(earlier, *now);
  if (!baseline_ || now->takenAt - baseline_->takenAt >= kMinimumWindowSeconds) baseline_ = *now;
  return percent;
}

std::string ApplicationMonitor::getResourceUsage() {
  double memory = 0.0;
  {
    std::lock_guard lock(mutex_);
    if (const auto bytes = probe_->footprintBytes()) {
      memory = static_cast<double>(*bytes) * (1.0 / 1024.0) * (1.0 / 1024.0);
    }
  }
  return formatResourceLine(memory, getCPUUsagePercent());
}

}  // namespace quillon
