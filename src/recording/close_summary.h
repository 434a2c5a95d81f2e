#pragma once

#include <cstdint>

namespace quillon {

// What closing a WAV file answers, and what a finished recording reports:
// success is 0 when a file was written and closed, -1 when there was none;
// duration is in milliseconds (whole seconds of audio); size is the file's
// length in bytes, header included.
struct CloseSummary {
  int32_t success = -1;
  int32_t duration = 0;
  int32_t size = 0;

  friend bool operator==(const CloseSummary&, const CloseSummary&) = default;
};

}  // namespace quillon
