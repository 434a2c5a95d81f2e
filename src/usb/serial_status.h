#pragma once

namespace quillon {

// Results of the serial send operations. A hexadecimal reply never equals one
// of these, so callers tell replies and failures apart by comparison.
inline constexpr const char* kRealSuccess = "REAL_SUCCESS";
inline constexpr const char* kRealWriteFailed = "REAL_WRITE_FAILED";
inline constexpr const char* kRealPortNotOpen = "REAL_PORT_NOT_OPEN";

}  // namespace quillon
