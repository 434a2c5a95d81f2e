#pragma once

#include <deque>
#include <optional>

#include "app/process_probe.h"

namespace quillon::test {

// Hands out prepared readings, one per call; none once they run out.
class FakeProcessProbe final : public ProcessProbe {
 public:
  std::optional<uint64_t> footprint;
  std::deque<CpuSample> samples;

  std::optional<uint64_t> footprintBytes() override { return footprint; }
  std::optional<CpuSample> cpuSample() override {
    if (samples.empty()) return std::nullopt;
    CpuSample next = std::move(samples.front());
    samples.pop_front();
    return next;
  }
};

}  // namespace quillon::test
