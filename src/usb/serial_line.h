#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon::serial_line {

// The recorder's line: 115200 baud, 8N1, no hardware flow control, raw output,
// non-canonical input without echo or signals, no input translation or
// software flow control, DTR and RTS raised. VMIN/VTIME stay as the driver set
// them (reads only follow a readiness wait). Failures of the individual calls
// are ignored: a port that refuses an attribute is still worth trying.
void configure(int fd);

// Waits up to timeoutMs for fd to become readable, then reads at most
// maxBytes into out (appending). Returns the count read, or 0 on time-out,
// error, hang-up or end of file. poll has no descriptor-number limit, unlike
// an fd_set.
size_t readWithin(int fd, int timeoutMs, size_t maxBytes, std::vector<uint8_t>& out);

}  // namespace quillon::serial_line
