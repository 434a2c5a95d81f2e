#pragma once

#include "app/application_monitor.h"
#include "app/channel_registration.h"
#include "platform/application_control.h"

namespace quillon {

// "native_application_factory": "init" configures the logger and stores the
// application texts, "eventByExit" quits, "getResourceUsage" answers the line
// of the resource monitor the channel owns.
class ApplicationChannel {
 public:
  // `application` must outlive the channel.
  ApplicationChannel(BinaryMessenger& messenger, ApplicationControl& application);

 private:
  void handle(const MethodCall& call, MethodResult& result);

  ApplicationControl& application_;
  ApplicationMonitor monitor_;
  ChannelRegistration registration_;
};

}  // namespace quillon
