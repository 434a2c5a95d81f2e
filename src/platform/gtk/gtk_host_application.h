#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

#include "app/app_delegate.h"
#include "platform/application_control.h"
#include "platform/gtk/gtk_desktop_shell.h"

namespace quillon {

// The windowed application: a single-instance GtkApplication. A second launch
// of the program hands over to the running one, which then becomes active
// again and shows its main window.
class GtkHostApplication final : public ApplicationControl {
 public:
  // Run in the first instance only, after the main window exists and before
  // the delegate shapes it; `started` opens the engine's side (channels,
  // link), `stopping` releases it while the main loop still exists.
  struct Hooks {
    std::function<void(GtkHostApplication&)> started;
    std::function<void(GtkHostApplication&)> stopping;
  };

  GtkHostApplication(const std::string& applicationId, Hooks hooks);
  ~GtkHostApplication() override;
  GtkHostApplication(const GtkHostApplication&) = delete;
  GtkHostApplication& operator=(const GtkHostApplication&) = delete;

  // Runs the main loop; returns the process's exit status.
  int run(const char* programName);
  // The application's normal quit: windows go away and run() returns.
  void terminate() override;

  GtkApplication* application() const { return application_; }
  // Valid from `started` until `stopping` has returned.
  GtkDesktopShell& shell() { return *shell_; }
  AppDelegate& delegate() { return *delegate_; }

 private:
  static void onStartup(GApplication*, gpointer self);
  static void onActivate(GApplication*, gpointer self);
  static void onShutdown(GApplication*, gpointer self);
  void addActions();

  GtkApplication* application_;
  Hooks hooks_;
  std::unique_ptr<GtkDesktopShell> shell_;
  std::unique_ptr<AppDelegate> delegate_;
};

// The application's icon file: the installed one next to the executable's
// prefix, else the one in the source tree; empty when neither exists.
std::string findApplicationIcon();

}  // namespace quillon
