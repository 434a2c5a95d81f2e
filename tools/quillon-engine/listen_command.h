#pragma once

#include <CLI/CLI.hpp>

#include "quillon-engine/cli_options.h"

namespace quillon {

// `listen`: every message from the host as one JSON line, until interrupted.
void addListenCommand(CLI::App& app, const EngineCliOptions& options, int& exitCode);

}  // namespace quillon
