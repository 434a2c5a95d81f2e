#pragma once

#include <memory>

#include "app/channel_registration.h"
#include "platform/activity_inhibitor.h"

namespace quillon {

// "background_activity_factory": keeps the system from idling between
// "beginBackgroundTask" and "endBackgroundTask", holding at most one activity.
class BackgroundActivityChannel {
 public:
  // `inhibitor` must outlive the channel.
  BackgroundActivityChannel(BinaryMessenger& messenger, ActivityInhibitor& inhibitor);

 private:
  void handle(const MethodCall& call, MethodResult& result);

  ActivityInhibitor& inhibitor_;
  std::unique_ptr<ActivityToken> backgroundActivity_;
  ChannelRegistration registration_;
};

}  // namespace quillon
