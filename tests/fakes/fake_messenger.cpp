#include "fakes/fake_messenger.h"

#include <memory>
#include <utility>

#include "engine/standard_codec.h"

namespace quillon::test {

std::optional<MethodReply> FakeMessenger::call(const std::string& channel, const std::string& method,
                                               EncodableValue args) {
  auto raw = deliverRaw(channel, StandardCodec::encodeMethodCall(MethodCall{method, std::move(args)}));
  if (!raw) return std::nullopt;
  return StandardCodec::decodeEnvelope(*raw).value_or(
      MethodError{"UNDECODABLE_REPLY", "the handler's reply did not decode", {}});
}

std::optional<BinaryMessage> FakeMessenger::deliverRaw(const std::string& channel, BinaryMessage message,
                                                       std::string* undecodable) {
  BinaryMessageHandler handler;
  {
    std::lock_guard lock(mutex_);
    auto it = handlers_.find(channel);
    if (it == handlers_.end() || !it->second) return BinaryMessage{};
    handler = it->second;
  }
  // Shared, so a reply made after this call returns still has somewhere to go.
  auto slot = std::make_shared<std::pair<std::mutex, std::optional<BinaryMessage>>>();
  const auto rejected = handler(std::move(message), [slot](BinaryMessage reply) {
    std::lock_guard lock(slot->first);
    slot->second = std::move(reply);
  });
  if (rejected && undecodable) *undecodable = rejected->reason;
  std::lock_guard lock(slot->first);
  return slot->second;
}

std::vector<FakeMessenger::SentMessage> FakeMessenger::sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

void FakeMessenger::sendWithReply(const std::string& channel, BinaryMessage message, BinaryReply onReply) {
  auto call = StandardCodec::decodeMethodCall(message).value_or(MethodCall{"<undecodable>", {}});
  std::lock_guard lock(mutex_);
  if (connected_) sent_.push_back({channel, std::move(call), onReply != nullptr});
}

void FakeMessenger::setMessageHandler(const std::string& channel, BinaryMessageHandler handler) {
  std::lock_guard lock(mutex_);
  handlers_[channel] = std::move(handler);
}

}  // namespace quillon::test
