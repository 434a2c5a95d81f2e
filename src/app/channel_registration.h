#pragma once

#include <functional>
#include <string>

#include "engine/method_channel.h"

namespace quillon {

// An object's hold on the channel it serves: calls reach `handle` while the
// registration lives, and are answered "UNAVAILABLE", "Instance not available"
// once it is gone, so the engine never waits on a service that went away.
// Declared as its object's last member, it comes after the services the
// handler uses and goes before them. Main thread only.
class ChannelRegistration {
 public:
  // Answers every call once before it returns.
  using Handle = std::function<void(const MethodCall& call, MethodResult& result)>;

  ChannelRegistration(BinaryMessenger& messenger, std::string name, Handle handle);
  ~ChannelRegistration();
  ChannelRegistration(const ChannelRegistration&) = delete;
  ChannelRegistration& operator=(const ChannelRegistration&) = delete;

 private:
  MethodChannel channel_;
};

}  // namespace quillon
