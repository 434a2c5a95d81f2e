#include "fakes/fake_messenger.h"

#include <memory>
#include <utility>

#include "engine/standard_codec.h"

namespace quillon::test {

std::optional<MethodReply> FakeMessenger::call(const std::string& channel, const std::string& method,
                                               EncodableValue args) {
  auto raw = deliverRaw(channel, StandardCodec::encodeMethodCall(MethodCall{method, std::move(args)}));
  if (!raw) return std::nullopt;
  auto reply = StandardCodec::decodeEnvelope(*raw);
  if (!reply) return MethodReply(MethodError{"UNDECODABLE_REPLY", "the handler's reply did not decode", {}});
  return reply;
}

std::optional<BinaryMessage> FakeMessenger::deliverRaw(const std::string& channel, BinaryMessage message,
                                                       std::string* undecodable) {
  BinaryMessageHandler handler;
  {
    std::lock_guard lock(mutex_);
    auto it = handlers_.find(channel);
    if (it == handlers_.end()) return BinaryMessage{};
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

bool FakeMessenger::answerPending(const std::string& channel, BinaryMessage reply) {
  BinaryReply onReply;
  {
    std::lock_guard lock(mutex_);
    auto it = pending_.find(channel);
    if (it == pending_.end()) return false;
    onReply = std::move(it->second);
    pending_.erase(it);
  }
  onReply(std::move(reply));
  return true;
}

void FakeMessenger::send(const std::string& channel, BinaryMessage message) {
  sendWithReply(channel, std::move(message), nullptr);
}

void FakeMessenger::sendWithReply(const std::string& channel, BinaryMessage message, BinaryReply onReply) {
  auto call = StandardCodec::decodeMethodCall(message);
  std::lock_guard lock(mutex_);
  if (!connected_) return;
  sent_.push_back({channel, call ? std::move(*call) : MethodCall{"<undecodable>", {}}, onReply != nullptr});
  if (onReply) pending_.emplace(channel, std::move(onReply));
}

void FakeMessenger::setMessageHandler(const std::string& channel, BinaryMessageHandler handler) {
  std::lock_guard lock(mutex_);
  if (handler) {
    handlers_[channel] = std::move(handler);
  } else {
    handlers_.erase(channel);
  }
}

}  // namespace quillon::test
