#pragma once

#include <CLI/CLI.hpp>

#include "quillon-engine/cli_options.h"

namespace quillon {

// `record [--seconds N] [--dir D] [--no-mic] [--stage] [--driver PATH]`: runs
// one recording through the audio channel, acting as the engine for its whole
// length, with a live level meter; stops on Ctrl-C or after N seconds.
void addRecordCommand(CLI::App& app, const EngineCliOptions& options, int& exitCode);

}  // namespace quillon
