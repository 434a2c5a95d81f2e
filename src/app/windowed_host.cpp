#include "app/windowed_host.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "app/main_flutter_window.h"
#include "app/plugin_registry.h"
#include "app/status_monitor.h"
#include "engine/engine_link.h"
#include "logging/logger.h"
#include "platform/gtk/gtk_activity_inhibitor.h"
#include "platform/gtk/gtk_host_application.h"
#include "platform/gtk/gtk_status_view.h"
#include "platform/linux/glib_main_thread.h"

namespace quillon {

namespace {

constexpr const char* kApplicationId = "org.quillon.Host";

// The status view reads the window's services on the main thread at each
// refresh, so it follows each audio "init" replacing the facade.
StatusMonitor::Sources statusSources(const EngineLink& link, const MainFlutterWindow& window,
                                     std::shared_ptr<SerialPortRegistry> serialPorts) {
  StatusMonitor::Sources sources;
  sources.engineConnected = [&link] { return link.engineConnected(); };
  sources.socketPath = link.socketPath();
  sources.recorder = [&window] { return window.nativeAudioFactory.get(); };
  sources.usb = [&window] { return window.usbFactory.get(); };
  sources.serialPorts = std::move(serialPorts);
  return sources;
}

gboolean quitOnSignal(gpointer application) {
  static_cast<GtkHostApplication*>(application)->terminate();
  return G_SOURCE_CONTINUE;
}

}  // namespace

int runWindowed(const WindowedOptions& options, const char* programName) {
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "quillon-host: cannot open a display; run with --headless\n");
    return 2;
  }
  const std::string socketPath =
      options.engineSocket.empty() ? EngineLink::defaultSocketPath() : options.engineSocket;

  GlibMainThread mainThread;
  EmptyPluginRegistry plugins;
  std::unique_ptr<EngineLink> link;
  std::unique_ptr<GtkActivityInhibitor> inhibitor;
  std::shared_ptr<MainFlutterWindow> window;
  std::unique_ptr<StatusMonitor> monitor;
  std::unique_ptr<GtkStatusView> statusView;
  guint signalSources[2] = {0, 0};
  int failure = 0;

  GtkHostApplication::Hooks hooks;
  // Only the first instance gets here: a second launch hands over before
  // start-up and must not touch the first one's socket.
  hooks.started = [&](GtkHostApplication& application) {
    link = std::make_unique<EngineLink>(socketPath);
    link->setUnservedChannelHandler(MethodChannel::unservedChannelHandler());
    if (!link->start()) {
      std::fprintf(stderr, "quillon-host: cannot listen on %s\n", socketPath.c_str());
      link.reset();
      failure = 1;
      application.terminate();
      return;
    }
    inhibitor = std::make_unique<GtkActivityInhibitor>(application.application(), application.shell().mainWindow());
    window = MainFlutterWindow::create({*link, mainThread, *inhibitor, application, options.serialPorts});
    window->awakeFromNib(plugins);
    application.shell().setEngineMessenger(link.get());
    monitor = std::make_unique<StatusMonitor>(statusSources(*link, *window, options.serialPorts), mainThread);
    statusView = std::make_unique<GtkStatusView>(application.application(), application.shell().mainWindow(),
                                                 [&monitor] { return monitor->sample(); });
    application.shell().setStatusPage(statusView->widget());
    // SIGINT and SIGTERM take the same orderly way out as "eventByExit".
    signalSources[0] = g_unix_signal_add(SIGINT, quitOnSignal, &application);
    signalSources[1] = g_unix_signal_add(SIGTERM, quitOnSignal, &application);
    std::fprintf(stderr, "quillon-host: engine link listening on %s\n", socketPath.c_str());
  };
  hooks.stopping = [&](GtkHostApplication& application) {
    for (guint& source : signalSources) {
      if (source != 0) g_source_remove(source);
      source = 0;
    }
    application.shell().setEngineMessenger(nullptr);
    // The view reads through the monitor, the monitor reads the window.
    statusView.reset();
    monitor.reset();
    // The window's activity token needs the application, the channels the link.
    window.reset();
    inhibitor.reset();
    link.reset();
    Logger::shared().flush();
  };

  GtkHostApplication application(kApplicationId, std::move(hooks));
  const int status = application.run(programName);
  return failure != 0 ? failure : status;
}

}  // namespace quillon
