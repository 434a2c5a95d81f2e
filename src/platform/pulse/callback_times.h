#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>

namespace quillon {

// How long one stream's callbacks took, kept by the loop thread without
// allocating: a histogram of the wall time in 10 us steps up to 5 ms (longer
// ones share the last step), the exact longest, and the longest time on the
// CPU (which leaves out the thread being preempted on a busy machine, but not
// waiting on a lock). Read once the stream no longer runs.
class CallbackTimes {
 public:
  using Duration = std::chrono::steady_clock::duration;

  // The calling thread's CPU time.
  static Duration threadCpuNow() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
  }

  void record(Duration took, Duration onCpu) {
    longestOnCpu_ = std::max(longestOnCpu_, onCpu);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
    const auto step = static_cast<size_t>(std::max<int64_t>(micros, 0) / kStepMicros);
    ++steps_[std::min(step, steps_.size() - 1)];
    ++count_;
    longest_ = std::max(longest_, took);
  }

  uint64_t count() const { return count_; }
  Duration longest() const { return longest_; }
  Duration longestOnCpu() const { return longestOnCpu_; }
  // The upper edge of the step that holds the middle call.
  std::chrono::microseconds median() const {
    uint64_t seen = 0;
    for (size_t i = 0; i < steps_.size(); ++i) {
      seen += steps_[i];
      if (seen * 2 >= count_ && count_ > 0) return std::chrono::microseconds((i + 1) * kStepMicros);
    }
    return std::chrono::microseconds(0);
  }

 private:
  static constexpr int64_t kStepMicros = 10;
  std::array<uint32_t, 500> steps_{};
  uint64_t count_ = 0;
  Duration longest_{};
  Duration longestOnCpu_{};
};

}  // namespace quillon
