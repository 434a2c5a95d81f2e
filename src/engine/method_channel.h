#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>

#include "engine/binary_messenger.h"
#include "engine/method_call.h"
#include "engine/method_result.h"

namespace quillon {

// A named channel of method calls over a messenger, in the Standard method
// codec. The messenger must outlive the channel.
class MethodChannel {
 public:
  using Handler = std::function<void(const MethodCall& call, std::unique_ptr<MethodResult> result)>;
  using ReplyHandler = std::function<void(MethodReply reply)>;

  MethodChannel(BinaryMessenger& messenger, std::string name);
  ~MethodChannel();
  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  // One handler per channel; installing another replaces it, an empty one removes it.
  // A message that does not decode as a method call is reported to the
  // messenger, which answers it as bad input.
  void setMethodCallHandler(Handler handler);
  // For a messenger's channels that no method channel serves: every method
  // call is answered "not implemented", anything else reported as above.
  static BinaryMessageHandler unservedChannelHandler();

  // Messages into the engine; safe from any thread; fire and forget.
  void invokeMethod(const std::string& method, EncodableValue arguments = EncodableValue());
  // invokeMethod with a Uint8List of `bytes`, which are copied once, into the message.
  void invokeMethodWithBytes(const std::string& method, std::span<const uint8_t> bytes);
  // The same, with the engine's answer (on the main thread). When no engine is
  // connected nothing is sent and onReply is never called.
  void invokeMethod(const std::string& method, EncodableValue arguments, ReplyHandler onReply);

 private:
  BinaryMessenger& messenger_;
  std::string name_;
};

}  // namespace quillon
