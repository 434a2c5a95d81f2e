#include "app/host_main.h"

#include <CLI/CLI.hpp>
#include <csignal>
#include <string>

#include "app/headless_host.h"
#include "app/windowed_host.h"
#include "capture/loopback_driver_installer.h"

namespace quillon {

int hostMain(int argc, char** argv) {
  // A vanished engine must show up as a write error, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  // A full disk or a file-size limit must fail the write (EFBIG), which the
  // writers report, rather than end the process with the recording in it.
  std::signal(SIGXFSZ, SIG_IGN);

  CLI::App app{"quillon-host: the native host of the recorder's companion app"};
  HostOptions options;
  app.add_option("--engine-socket", options.engineSocket,
                 "Unix socket on which the engine connects (default: $XDG_RUNTIME_DIR/quillon/engine.sock)");
  app.add_flag("--headless", options.headless, "Run without a window (servers, tests)");
  app.add_option("--serial-sys-root", options.serialSysRoot, "Folder read as /sys for serial ports (tests)");
  app.add_option("--serial-dev-root", options.serialDevRoot, "Folder read as /dev for serial ports (tests)");
  app.add_option("--loopback-root", options.loopbackRoot,
                 "Folder standing in for / where the loopback drop-in is installed (tests, staging)");
  app.set_version_flag("--version", std::string(QUILLON_VERSION));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (!options.loopbackRoot.empty()) LoopbackInstallLayout::setCurrentRoot(options.loopbackRoot);
  return options.headless ? runHeadless(options) : runWindowed(options, argv[0]);
}

}  // namespace quillon
