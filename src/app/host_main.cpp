#include "app/host_main.h"

#include <glib-unix.h>
#include <glib.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "app/headless_application.h"
#include "app/main_flutter_window.h"
#include "app/output_repair_retry.h"
#include "app/plugin_registry.h"
#include "app/windowed_host.h"
#include "capture/loopback_driver_installer.h"
#include "capture/speaker_capture.h"
#include "engine/engine_link.h"
#include "logging/logger.h"
#include "platform/linux/glib_main_thread.h"
#include "platform/linux/logind_inhibitor.h"
#include "platform/linux/sysfs_serial_port_registry.h"
#include "platform/pulse/pulse_audio_hardware.h"
#include "platform/pulse/pulse_context.h"

namespace quillon {

namespace {

struct HostOptions {
  std::string engineSocket;
  bool headless = false;
  std::string serialSysRoot;
  std::string serialDevRoot;
  std::string loopbackRoot;
};

// The system's ports, or those of a tree laid out elsewhere (tests).
std::shared_ptr<SerialPortRegistry> serialPorts(const HostOptions& options) {
  if (options.serialSysRoot.empty() && options.serialDevRoot.empty()) return makeSystemSerialPortRegistry();
  return std::make_shared<SysfsSerialPortRegistry>(options.serialSysRoot.empty() ? "/sys" : options.serialSysRoot,
                                                   options.serialDevRoot.empty() ? "/dev" : options.serialDevRoot);
}

// Audio set-up shared by every shell: one PulseAudio connection for all the
// device and capture code, made once before any channel can record. A host
// that died mid-recording left the system output on the loopback device, so
// nothing would be heard; that is mended before anything else runs.
void prepareRecordingAudio() {
  AudioHardwareProvider::install(std::make_shared<PulseAudioHardware>(PulseContext::create()));
  if (SpeakerCapture::restoreOutputLeftOnLoopback()) {
    std::fprintf(stderr, "quillon-host: system output put back from the loopback device\n");
  }
}

int runHeadless(const HostOptions& options) {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  GlibMainThread mainThread;
  HeadlessApplication application(loop);
  LogindInhibitor inhibitor;

  const std::string socketPath = options.engineSocket.empty() ? EngineLink::defaultSocketPath() : options.engineSocket;
  auto link = std::make_unique<EngineLink>(socketPath);
  // Calls on channels the host does not serve are read all the same, so one
  // that does not decode is answered as bad input.
  link->setUnservedChannelHandler(MethodChannel::unservedChannelHandler());
  if (!link->start()) {
    std::fprintf(stderr, "quillon-host: cannot listen on %s\n", socketPath.c_str());
    g_main_loop_unref(loop);
    return 1;
  }

  EmptyPluginRegistry plugins;
  auto window = MainFlutterWindow::create({*link, mainThread, inhibitor, application, serialPorts(options)});
  window->awakeFromNib(plugins);

  // SIGINT and SIGTERM end the main loop like "eventByExit" does, so the day
  // log is flushed and the socket removed.
  auto quit = [](gpointer data) -> gboolean {
    g_main_loop_quit(static_cast<GMainLoop*>(data));
    return G_SOURCE_CONTINUE;
  };
  const guint sigint = g_unix_signal_add(SIGINT, quit, loop);
  const guint sigterm = g_unix_signal_add(SIGTERM, quit, loop);

  std::fprintf(stderr, "quillon-host: engine link listening on %s\n", socketPath.c_str());
  g_main_loop_run(loop);

  g_source_remove(sigint);
  g_source_remove(sigterm);
  window.reset();
  link.reset();
  Logger::shared().flush();
  g_main_loop_unref(loop);
  return 0;
}

}  // namespace

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
  prepareRecordingAudio();
  OutputRepairRetry outputRepair;

  if (!options.headless) return runWindowed({options.engineSocket, serialPorts(options)}, argv[0]);
  return runHeadless(options);
}

}  // namespace quillon
