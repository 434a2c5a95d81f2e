#pragma once

#include <chrono>
#include <string>

namespace quillon {

// Options every subcommand of the command-line engine shares.
struct EngineCliOptions {
  std::string socketPath;
  std::chrono::milliseconds timeout{60'000};
};

// Exit codes of the command-line engine.
enum EngineCliExit : int {
  kExitSuccess = 0,
  kExitErrorReply = 1,
  kExitNotImplemented = 2,
  kExitNoHost = 3,  // no host listens, the connection failed or no reply came in time
  kExitUsage = 64,
};

}  // namespace quillon
