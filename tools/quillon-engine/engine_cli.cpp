#include "quillon-engine/engine_cli.h"

#include <CLI/CLI.hpp>

#include "engine/engine_link.h"
#include "quillon-engine/call_command.h"
#include "quillon-engine/cli_options.h"
#include "quillon-engine/listen_command.h"
#include "quillon-engine/record_command.h"

namespace quillon {

int engineCliMain(int argc, char** argv) {
  EngineCliOptions options;
  options.socketPath = EngineLink::defaultSocketPath();
  int exitCode = kExitSuccess;

  CLI::App app{"quillon-engine: talks to a running quillon-host over its engine link"};
  app.require_subcommand(1);
  app.fallthrough();  // --socket and --timeout also work after the subcommand
  app.add_option("--socket", options.socketPath, "Engine link socket of the host")
      ->capture_default_str();
  double timeoutSeconds = 60;
  app.add_option("--timeout", timeoutSeconds, "Seconds to wait for a reply")->capture_default_str()
      ->check(CLI::PositiveNumber);
  app.parse_complete_callback([&] {
    options.timeout = std::chrono::milliseconds(static_cast<int64_t>(timeoutSeconds * 1000));
  });

  // Each subcommand lives in a file of its own; add new ones here.
  addCallCommand(app, options, exitCode);
  addListenCommand(app, options, exitCode);
  addRecordCommand(app, options, exitCode);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitSuccess : kExitUsage;
  }
  return exitCode;
}

}  // namespace quillon
