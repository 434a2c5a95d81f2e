#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/desktop_shell.h"
#include "engine/encodable_value.h"
#include "engine/method_result.h"

namespace quillon {

// The application shell around the engine's window: shapes the window, builds
// the menu, keeps the window hidden instead of closed, brings it back when the
// application is activated again, and carries out the menu actions. Some act
// in the host (About panel, show window, quit at once); the others become
// method calls into the engine on "native_application_factory".
// Main thread only.
class AppDelegate {
 public:
  using Completion = std::function<void(MethodReply reply)>;

  explicit AppDelegate(DesktopShell& shell);

  // Shapes the main window (1100 × 700 centred on the usable screen area) and
  // installs the menu built from the texts of this moment.
  void applicationDidFinishLaunching();
  // The application was activated again (a second launch of the single instance).
  void applicationDidBecomeActive() { showMainWindow(); }
  // The user asked to close the main window: it is hidden instead, and stays
  // alive with the engine. Always false (do not close).
  bool windowShouldClose();
  static constexpr bool applicationShouldTerminateAfterLastWindowClosed() { return false; }

  // Runs the application action of that name (see kApplicationActions);
  // false for an unknown name.
  bool performAction(std::string_view name);

  void showAbout();
  void checkUpdate();
  void openSettings();
  void openExit();
  void showMainWindow();
  void simulateShutdown();

  // One method call into the engine on the application channel. Nothing is
  // sent, and the completion is never called, while there is no main window or
  // no engine connected; otherwise the completion gets the engine's reply as
  // received, on the main thread.
  void callFlutter(const std::string& method, EncodableValue arguments = EncodableValue(),
                   Completion completion = nullptr);

 private:
  void setupMainMenu();

  DesktopShell& shell_;
};

}  // namespace quillon
