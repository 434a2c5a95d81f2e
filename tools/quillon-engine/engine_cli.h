#pragma once

namespace quillon {

// The command-line engine: speaks the engine link to a running quillon-host.
int engineCliMain(int argc, char** argv);

}  // namespace quillon
