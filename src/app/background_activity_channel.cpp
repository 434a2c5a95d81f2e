#include "app/call_arguments.h"
#include "app/main_flutter_window.h"

namespace quillon {

namespace {
constexpr const char* kDefaultReason = "Performing a long-running task";
}

void MainFlutterWindow::registerBackgroundActivityChannel() {
  auto channel = std::make_shared<MethodChannel>(environment_.messenger, "background_activity_factory");
  std::weak_ptr<MainFlutterWindow> weakWindow = weak_from_this();
  channel->setMethodCallHandler([weakWindow](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    auto window = weakWindow.lock();
    if (!window) {
      // Answered like the other channels, so the engine's call never hangs.
      replyInstanceNotAvailable(*result);
      return;
    }
    if (call.method == "beginBackgroundTask") {
      // At most one activity is held: the old one ends before a new one starts.
      window->backgroundActivity.reset();
      const std::string reason = CallArguments(call.arguments).string("reason").value_or(kDefaultReason);
      window->backgroundActivity = window->environment().activityInhibitor.beginActivity(reason);
      result->success();
    } else if (call.method == "endBackgroundTask") {
      window->backgroundActivity.reset();
      result->success();
    } else {
      result->notImplemented();
    }
  });
}

}  // namespace quillon
