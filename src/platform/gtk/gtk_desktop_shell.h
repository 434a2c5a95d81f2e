#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "app/desktop_shell.h"

namespace quillon {

// The desktop shell on GTK 3: the main window (a GtkApplicationWindow with a
// header bar and no visible title; below it the status page, or the engine's
// view once one is attached), the menu bar, About panels. Main thread only.
class GtkDesktopShell final : public DesktopShell {
 public:
  // `closeRequested` answers whether the main window may really close.
  GtkDesktopShell(GtkApplication* application, std::function<bool()> closeRequested);
  ~GtkDesktopShell() override;
  GtkDesktopShell(const GtkDesktopShell&) = delete;
  GtkDesktopShell& operator=(const GtkDesktopShell&) = delete;

  // Creates the main window, not yet shown; its title (for task switchers) is `title`.
  void createMainWindow(const std::string& title);
  GtkWindow* mainWindow() const { return mainWindow_; }
  void setEngineMessenger(BinaryMessenger* messenger) { messenger_ = messenger; }
  void setIconPath(std::string path) { iconPath_ = std::move(path); }
  // The page the content area shows while no engine view is attached.
  void setStatusPage(GtkWidget* page);
  // The seam for an embedded engine view: attached, it fills the content area
  // in place of the status page; detached, the status page comes back.
  // Nothing attaches one yet: the engine draws in its own process.
  void attachEngineView(GtkWidget* view);
  void detachEngineView();

  bool hasMainWindow() const override { return mainWindow_ != nullptr; }
  std::optional<Rect> visibleScreenArea() const override;
  void setMainWindowFrame(const Rect& frame) override;
  void presentMainWindow() override;
  void hideMainWindow() override;
  void installMenu(const ApplicationMenu& menu) override;
  void showAboutPanel(const AboutPanelContent& content) override;
  void quit() override;
  BinaryMessenger* engineMessenger() override;
  std::string iconPath() const override { return iconPath_; }

 private:
  static gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self);
  int headerBarHeight() const;
  void dropUnseenMargins();

  GtkApplication* application_;
  std::function<bool()> closeRequested_;
  GtkWindow* mainWindow_ = nullptr;
  GtkWidget* headerBar_ = nullptr;
  GtkWidget* content_ = nullptr;
  GtkWidget* engineView_ = nullptr;
  BinaryMessenger* messenger_ = nullptr;
  std::string iconPath_;
};

}  // namespace quillon
