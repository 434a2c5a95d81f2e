#include "engine/method_channel.h"

#include <utility>

#include "engine/standard_codec.h"
#include "logging/logger.h"

namespace quillon {

namespace {

constexpr const char* kTag = "engine";

BinaryMessage encodeReply(const MethodReply& reply) {
  if (const auto* success = std::get_if<MethodSuccess>(&reply)) {
    return StandardCodec::encodeSuccessEnvelope(success->value);
  }
  if (const auto* failure = std::get_if<MethodError>(&reply)) {
    return StandardCodec::encodeErrorEnvelope(failure->code, failure->message, failure->details);
  }
  return {};  // not implemented
}

}  // namespace

MethodChannel::MethodChannel(BinaryMessenger& messenger, std::string name)
    : messenger_(messenger), name_(std::move(name)) {}

// The handler stays installed: another channel object of the same name on the
// same messenger reaches the same handler, as in an engine embedding.
MethodChannel::~MethodChannel() = default;

void MethodChannel::setMethodCallHandler(Handler handler) {
  if (!handler) {
    messenger_.setMessageHandler(name_, nullptr);
    return;
  }
  messenger_.setMessageHandler(
      name_, [name = name_, handler = std::move(handler)](BinaryMessage message,
                                                          BinaryReply reply) -> std::optional<UndecodableMessage> {
        std::string reason;
        auto call = StandardCodec::decodeMethodCall(message, &reason);
        if (!call) return UndecodableMessage{std::move(reason)};
        auto deliver = [reply = std::move(reply)](MethodReply answer) {
          if (reply) reply(encodeReply(answer));
        };
        handler(*call, std::make_unique<MethodResult>(name + "." + call->method, std::move(deliver)));
        return std::nullopt;
      });
}

BinaryMessageHandler MethodChannel::unservedChannelHandler() {
  return [](BinaryMessage message, BinaryReply reply) -> std::optional<UndecodableMessage> {
    std::string reason;
    if (!StandardCodec::decodeMethodCall(message, &reason)) return UndecodableMessage{std::move(reason)};
    if (reply) reply({});
    return std::nullopt;
  };
}

void MethodChannel::invokeMethodWithBytes(const std::string& method, std::span<const uint8_t> bytes) {
  messenger_.send(name_, StandardCodec::encodeBytesCall(method, bytes));
}

void MethodChannel::invokeMethod(const std::string& method, EncodableValue arguments) {
  messenger_.send(name_, StandardCodec::encodeMethodCall(MethodCall{method, std::move(arguments)}));
}

void MethodChannel::invokeMethod(const std::string& method, EncodableValue arguments,
                                 ReplyHandler onReply) {
  if (!onReply) {
    invokeMethod(method, std::move(arguments));
    return;
  }
  auto description = name_ + "." + method;
  messenger_.sendWithReply(
      name_, StandardCodec::encodeMethodCall(MethodCall{method, std::move(arguments)}),
      [description = std::move(description), onReply = std::move(onReply)](BinaryMessage envelope) {
        std::string reason;
        auto reply = StandardCodec::decodeEnvelope(envelope, &reason);
        if (!reply) {
          Logger::shared().error(kTag, "%s: undecodable reply from the engine: %s", description.c_str(),
                                 reason.c_str());
          // The caller still hears back, so nothing waits on a reply that will not come.
          onReply(MethodError{"BAD_REPLY", "undecodable reply: " + reason, EncodableValue()});
          return;
        }
        onReply(std::move(*reply));
      });
}

}  // namespace quillon
