#include "app/channel_registration.h"

#include <utility>

namespace quillon {

ChannelRegistration::ChannelRegistration(BinaryMessenger& messenger, std::string name, Handle handle)
    : channel_(messenger, std::move(name)) {
  channel_.setMethodCallHandler(
      [handle = std::move(handle)](const MethodCall& call, std::unique_ptr<MethodResult> result) {
        handle(call, *result);
      });
}

ChannelRegistration::~ChannelRegistration() {
  channel_.setMethodCallHandler([](const MethodCall&, std::unique_ptr<MethodResult> result) {
    result->error("UNAVAILABLE", "Instance not available");
  });
}

}  // namespace quillon
