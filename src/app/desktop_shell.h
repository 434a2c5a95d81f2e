#pragma once

#include <optional>

#include "app/about_panel.h"
#include "app/application_menu.h"
#include "app/window_frame.h"

namespace quillon {

class BinaryMessenger;

// What the application delegate drives in the desktop toolkit. Main thread only.
class DesktopShell {
 public:
  virtual ~DesktopShell() = default;

  virtual bool hasMainWindow() const = 0;
  // The usable area of the screen the window is on; none without a screen.
  virtual std::optional<Rect> visibleScreenArea() const = 0;
  // Moves and sizes the main window's visible frame.
  virtual void setMainWindowFrame(const Rect& frame) = 0;
  // Shows the main window in front, as the focused window of an active application.
  virtual void presentMainWindow() = 0;
  // Takes the main window off the screen without destroying it.
  virtual void hideMainWindow() = 0;
  virtual void installMenu(const ApplicationMenu& menu) = 0;
  virtual void showAboutPanel(const AboutPanelContent& content) = 0;
  // The application's normal quit sequence; returns at once.
  virtual void quit() = 0;
  // The messenger of the engine shown in the main window; null while there is
  // no window or no engine is connected.
  virtual BinaryMessenger* engineMessenger() = 0;
  // The application's icon file; empty when there is none.
  virtual std::string iconPath() const = 0;
};

}  // namespace quillon
