#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quillon {

// Processor time one thread has used since it started.
struct ThreadCpuTime {
  int tid = 0;
  double cpuSeconds = 0.0;
};

// One reading of the process's threads. Times are seconds on one monotonic
// clock that keeps counting through suspend, so `takenAt` and
// `processStartedAt` can be subtracted.
struct CpuSample {
  double takenAt = 0.0;
  double processStartedAt = 0.0;
  std::vector<ThreadCpuTime> threads;
};

// Where the resource monitor reads the process's own counters.
class ProcessProbe {
 public:
  virtual ~ProcessProbe() = default;
  // Private resident memory plus swapped-out memory, in bytes.
  virtual std::optional<uint64_t> footprintBytes() = 0;
  virtual std::optional<CpuSample> cpuSample() = 0;
};

}  // namespace quillon
