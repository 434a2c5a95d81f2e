#include "app/background_activity_channel.h"

#include "app/call_arguments.h"

namespace quillon {

namespace {
constexpr const char* kDefaultReason = "Performing a long-running task";
}

BackgroundActivityChannel::BackgroundActivityChannel(BinaryMessenger& messenger, ActivityInhibitor& inhibitor)
    : inhibitor_(inhibitor),
      registration_(messenger, "background_activity_factory",
                    [this](const MethodCall& call, MethodResult& result) { handle(call, result); }) {}

void BackgroundActivityChannel::handle(const MethodCall& call, MethodResult& result) {
  if (call.method == "beginBackgroundTask") {
    // At most one activity is held: the old one ends before a new one starts.
    backgroundActivity_.reset();
    const std::string reason = CallArguments(call.arguments).string("reason").value_or(kDefaultReason);
    backgroundActivity_ = inhibitor_.beginActivity(reason);
    result.success();
  } else if (call.method == "endBackgroundTask") {
    backgroundActivity_.reset();
    result.success();
  } else {
    result.notImplemented();
  }
}

}  // namespace quillon
