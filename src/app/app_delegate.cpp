#include "app/app_delegate.h"

#include "app/app_texts.h"
#include "engine/binary_messenger.h"
#include "engine/method_channel.h"
#include "logging/logger.h"

namespace quillon {

namespace {

constexpr const char* kTag = "native_application_factory";
constexpr const char* kApplicationChannel = "native_application_factory";

}  // namespace

AppDelegate::AppDelegate(DesktopShell& shell) : shell_(shell) {}

void AppDelegate::applicationDidFinishLaunching() {
  if (shell_.hasMainWindow()) {
    if (const auto frame = mainWindowFrame(shell_.visibleScreenArea())) shell_.setMainWindowFrame(*frame);
  }
  setupMainMenu();
}

void AppDelegate::setupMainMenu() {
  const AppTexts& texts = appTexts();
  shell_.installMenu(buildApplicationMenu(texts.applicationName, texts.menuAbout, texts.menuExit));
}

bool AppDelegate::windowShouldClose() {
  shell_.hideMainWindow();
  return false;
}

bool AppDelegate::performAction(std::string_view name) {
  if (name == "showAbout") {
    showAbout();
  } else if (name == "checkUpdate") {
    checkUpdate();
  } else if (name == "openSettings") {
    openSettings();
  } else if (name == "openExit") {
    openExit();
  } else if (name == "showMainWindow") {
    showMainWindow();
  } else if (name == "simulateShutdown") {
    simulateShutdown();
  } else {
    return false;
  }
  return true;
}

void AppDelegate::showAbout() {
  const AppTexts& texts = appTexts();
  shell_.showAboutPanel(AboutPanelContent{texts.applicationName, applicationVersion(QUILLON_VERSION),
                                          texts.menuAboutCopyrightTip, shell_.iconPath()});
}

void AppDelegate::checkUpdate() { callFlutter("menuOnUpdate"); }
void AppDelegate::openSettings() { callFlutter("menuOnSettings"); }
void AppDelegate::openExit() { callFlutter("menuOnExit"); }

void AppDelegate::showMainWindow() {
  if (shell_.hasMainWindow()) shell_.presentMainWindow();
}

void AppDelegate::simulateShutdown() {
  Logger::shared().infoWithTag(kTag, "simulateShutdown clicked!");
  shell_.quit();
}

void AppDelegate::callFlutter(const std::string& method, EncodableValue arguments, Completion completion) {
  if (!shell_.hasMainWindow()) return;
  BinaryMessenger* messenger = shell_.engineMessenger();
  // Checked here rather than left to the messenger so that the promise "no
  // completion without an engine" does not hang on the transport's rules.
  if (messenger == nullptr || !messenger->engineConnected()) return;
  // A fresh channel object per call; it reaches the same engine-side channel
  // as the window's own and leaves the window's handler in place.
  MethodChannel channel(*messenger, kApplicationChannel);
  if (completion) {
    channel.invokeMethod(method, std::move(arguments), std::move(completion));
  } else {
    channel.invokeMethod(method, std::move(arguments));
  }
}

}  // namespace quillon
