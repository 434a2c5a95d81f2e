#pragma once

#include "app/host_startup.h"

namespace quillon {

// quillon-host with its window: a single-instance GTK application. A launch
// while one runs hands over to it (its window comes back) and returns 0.
// Returns the process exit code; 1 when the engine link cannot listen, 2 when
// there is no display to open.
int runWindowed(const HostOptions& options, const char* programName);

}  // namespace quillon
