#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/application_control.h"

namespace quillon {

// The windowed application's toolkit side: a single-instance GtkApplication.
// A second launch of the program hands over to the running one, which is
// activated again. What the application does at each step is the caller's.
class GtkHostApplication final : public ApplicationControl {
 public:
  struct Hooks {
    // First instance only, once, before the main loop runs.
    std::function<void()> startup;
    // At the first launch and at every later launch of the program.
    std::function<void()> activate;
    // While the main loop still exists, before run() returns.
    std::function<void()> shutdown;
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
  // Application actions, reachable as "app." + name from menus and over the
  // session bus; each runs `perform` with its name.
  void addActions(std::span<const std::string_view> names, std::function<void(std::string_view name)> perform);

 private:
  static void onStartup(GApplication*, gpointer self);
  static void onActivate(GApplication*, gpointer self);
  static void onShutdown(GApplication*, gpointer self);
  static void onAction(GSimpleAction* action, GVariant*, gpointer self);

  GtkApplication* application_;
  Hooks hooks_;
  std::function<void(std::string_view)> perform_;
};

// The application's icon file: the installed one next to the executable's
// prefix, else the one in the source tree; empty when neither exists.
std::string findApplicationIcon();

}  // namespace quillon
