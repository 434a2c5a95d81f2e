#include "app/windowed_host.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <memory>

#include "app/app_delegate.h"
#include "app/app_texts.h"
#include "app/status_monitor.h"
#include "platform/gtk/gtk_activity_inhibitor.h"
#include "platform/gtk/gtk_desktop_shell.h"
#include "platform/gtk/gtk_host_application.h"
#include "platform/gtk/gtk_status_view.h"
#include "platform/linux/glib_main_thread.h"

namespace quillon {

namespace {

constexpr const char* kApplicationId = "org.quillon.Host";

// The GTK pieces wired to the application delegate and the host. Everything
// is built in the first instance only: a second launch hands over before
// start-up and must not touch the first one's socket.
class WindowedHost {
 public:
  explicit WindowedHost(const HostOptions& options)
      : options_(options),
        application_(kApplicationId, {[this] { startup(); }, [this] { activate(); }, [this] { shutdown(); }}) {}

  int run(const char* programName) {
    const int status = application_.run(programName);
    return failure_ != 0 ? failure_ : status;
  }

 private:
  void startup() {
    shell_ = std::make_unique<GtkDesktopShell>(application_.application(),
                                               [this] { return delegate_->windowShouldClose(); });
    delegate_ = std::make_unique<AppDelegate>(*shell_);
    shell_->setIconPath(findApplicationIcon());
    shell_->createMainWindow(appTexts().applicationName);
    inhibitor_ = std::make_unique<GtkActivityInhibitor>(application_.application(), shell_->mainWindow());
    host_ = HostStartup::start(options_, {mainThread_, *inhibitor_, application_});
    if (!host_) {
      failure_ = 1;
      application_.terminate();
      return;
    }
    shell_->setEngineMessenger(&host_->link());
    monitor_ = std::make_unique<StatusMonitor>(statusSources(), mainThread_);
    statusView_ = std::make_unique<GtkStatusView>(application_.application(), shell_->mainWindow(),
                                                  [this] { return monitor_->sample(); });
    shell_->setStatusPage(statusView_->widget());
    application_.addActions(kApplicationActions, [this](std::string_view name) { delegate_->performAction(name); });
    delegate_->applicationDidFinishLaunching();
  }

  void activate() {
    if (host_) delegate_->applicationDidBecomeActive();
  }

  void shutdown() {
    if (shell_) shell_->setEngineMessenger(nullptr);
    // The view reads through the monitor, the monitor reads the host; the
    // window's activity token needs the inhibitor.
    statusView_.reset();
    monitor_.reset();
    host_.reset();
    inhibitor_.reset();
    delegate_.reset();
    shell_.reset();
  }

  // The status view reads the window's services on the main thread at each
  // refresh, so it follows each audio "init" replacing the facade.
  StatusMonitor::Sources statusSources() {
    const EngineLink& link = host_->link();
    const MainFlutterWindow& window = host_->window();
    StatusMonitor::Sources sources;
    sources.engineConnected = [&link] { return link.engineConnected(); };
    sources.socketPath = link.socketPath();
    sources.recorder = [&window] { return window.nativeAudioFactory(); };
    sources.usb = [&window] { return window.usbFactory(); };
    sources.serialPorts = host_->serialPorts();
    return sources;
  }

  const HostOptions& options_;
  GlibMainThread mainThread_;
  GtkHostApplication application_;
  std::unique_ptr<GtkDesktopShell> shell_;
  std::unique_ptr<AppDelegate> delegate_;
  std::unique_ptr<GtkActivityInhibitor> inhibitor_;
  std::unique_ptr<HostStartup> host_;
  std::unique_ptr<StatusMonitor> monitor_;
  std::unique_ptr<GtkStatusView> statusView_;
  int failure_ = 0;
};

}  // namespace

int runWindowed(const HostOptions& options, const char* programName) {
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "quillon-host: cannot open a display; run with --headless\n");
    return 2;
  }
  return WindowedHost(options).run(programName);
}

}  // namespace quillon
