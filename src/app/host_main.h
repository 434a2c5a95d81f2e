#pragma once

namespace quillon {

// The whole of the quillon-host process: options, main loop, window or
// headless shell, engine link. Returns the process exit code.
int hostMain(int argc, char** argv);

}  // namespace quillon
