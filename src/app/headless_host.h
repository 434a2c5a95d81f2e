#pragma once

#include "app/host_startup.h"

namespace quillon {

// quillon-host without a window: the host on a GLib main loop until
// "eventByExit" or a signal ends it. Returns the process exit code; 1 when
// the engine link cannot listen.
int runHeadless(const HostOptions& options);

}  // namespace quillon
