#include "app/windowed_host.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "app/main_flutter_window.h"
#include "app/plugin_registry.h"
#include "engine/engine_link.h"
#include "logging/logger.h"
#include "platform/gtk/gtk_activity_inhibitor.h"
#include "platform/gtk/gtk_host_application.h"
#include "platform/linux/glib_main_thread.h"

namespace quillon {

namespace {

constexpr const char* kApplicationId = "org.quillon.Host";

gboolean quitOnSignal(gpointer application) {
  static_cast<GtkHostApplication*>(application)->terminate();
  return G_SOURCE_CONTINUE;
}

}  // namespace

int runWindowed(const std::string& engineSocket, const char* programName) {
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "quillon-host: cannot open a display; run with --headless\n");
    return 2;
  }
  const std::string socketPath = engineSocket.empty() ? EngineLink::defaultSocketPath() : engineSocket;

  GlibMainThread mainThread;
  EmptyPluginRegistry plugins;
  std::unique_ptr<EngineLink> link;
  std::unique_ptr<GtkActivityInhibitor> inhibitor;
  std::shared_ptr<MainFlutterWindow> window;
  guint signalSources[2] = {0, 0};
  int failure = 0;

  GtkHostApplication::Hooks hooks;
  // Only the first instance gets here: a second launch hands over before
  // start-up and must not touch the first one's socket.
  hooks.started = [&](GtkHostApplication& application) {
    link = std::make_unique<EngineLink>(socketPath);
    if (!link->start()) {
      std::fprintf(stderr, "quillon-host: cannot listen on %s\n", socketPath.c_str());
      link.reset();
      failure = 1;
      application.terminate();
      return;
    }
    inhibitor = std::make_unique<GtkActivityInhibitor>(application.application(), application.shell().mainWindow());
    window = MainFlutterWindow::create({*link, mainThread, *inhibitor, application});
    window->awakeFromNib(plugins);
    application.shell().setEngineMessenger(link.get());
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
