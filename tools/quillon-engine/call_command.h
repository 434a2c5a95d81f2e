#pragma once

#include <CLI/CLI.hpp>

#include "quillon-engine/cli_options.h"

namespace quillon {

// `call CHANNEL METHOD [ARGS-JSON]`: one method call, its reply printed as JSON.
void addCallCommand(CLI::App& app, const EngineCliOptions& options, int& exitCode);

}  // namespace quillon
