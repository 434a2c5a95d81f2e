#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/process_probe.h"

namespace quillon {

// Reads this process's counters from procfs: memory from smaps_rollup (or
// smaps on kernels without it), per-thread processor time from task/*/stat.
class ProcSelfProbe final : public ProcessProbe {
 public:
  // `procSelf` is the folder to read; tests point it at a prepared tree.
  explicit ProcSelfProbe(std::string procSelf = "/proc/self");
  std::optional<uint64_t> footprintBytes() override;
  std::optional<CpuSample> cpuSample() override;

 private:
  std::string procSelf_;
  double ticksPerSecond_;
};

// Sum of Private_Clean, Private_Dirty and Swap (kB lines of smaps or
// smaps_rollup), in bytes; none when no such line is present.
std::optional<uint64_t> parseFootprintBytes(std::string_view smaps);

struct StatTimes {
  unsigned long long userTicks = 0;
  unsigned long long systemTicks = 0;
  unsigned long long startTicks = 0;  // since boot
};
// Fields utime, stime and starttime of a stat line. The command name in
// parentheses may itself hold spaces and parentheses, so fields are counted
// from the last closing parenthesis.
std::optional<StatTimes> parseStatTimes(std::string_view statLine);

}  // namespace quillon
