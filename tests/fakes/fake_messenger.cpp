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

std::optional<BinaryMessage> FakeMessenger::deliverRaw(const std::string& channel, BinaryMessage message) {
  BinaryMessageHandler handler;
  {
    std::lock_guard lock(mutex_);
    auto it = handlers_.find(channel);
    // As on the engine link: no handler is answered with "not implemented".
    if (it == handlers_.end()) return BinaryMessage{};
    handler = it->second;
  }
  // Shared so a reply made after this call returns is still recorded.
  struct Slot {
    std::mutex mutex;
    std::optional<BinaryMessage> reply;
  };
  auto slot = std::make_shared<Slot>();
  handler(std::move(message), [this, slot, channel](BinaryMessage reply) {
    {
      std::lock_guard lock(slot->mutex);
      slot->reply = reply;
    }
    auto decoded = StandardCodec::decodeEnvelope(reply);
    std::lock_guard lock(mutex_);
    if (decoded) lastReplies_.insert_or_assign(channel, std::move(*decoded));
  });
  std::lock_guard lock(slot->mutex);
  return slot->reply;
}

std::optional<MethodReply> FakeMessenger::lastReply(const std::string& channel) const {
  std::lock_guard lock(mutex_);
  auto it = lastReplies_.find(channel);
  if (it == lastReplies_.end()) return std::nullopt;
  return it->second;
}

void FakeMessenger::record(const std::string& channel, const BinaryMessage& message, bool wantsReply) {
  auto call = StandardCodec::decodeMethodCall(message);
  SentMessage entry{channel, call ? std::move(*call) : MethodCall{"<undecodable>", {}}, wantsReply};
  std::lock_guard lock(mutex_);
  sent_.push_back(std::move(entry));
}

std::vector<FakeMessenger::SentMessage> FakeMessenger::sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

void FakeMessenger::clearSent() {
  std::lock_guard lock(mutex_);
  sent_.clear();
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

void FakeMessenger::setEngineConnected(bool connected) {
  std::lock_guard lock(mutex_);
  connected_ = connected;
}

bool FakeMessenger::hasHandler(const std::string& channel) const {
  std::lock_guard lock(mutex_);
  return handlers_.count(channel) != 0;
}

void FakeMessenger::send(const std::string& channel, BinaryMessage message) {
  if (!engineConnected()) return;
  record(channel, message, false);
}

void FakeMessenger::sendWithReply(const std::string& channel, BinaryMessage message, BinaryReply onReply) {
  if (!engineConnected()) return;
  record(channel, message, true);
  std::lock_guard lock(mutex_);
  pending_.emplace(channel, std::move(onReply));
}

void FakeMessenger::setMessageHandler(const std::string& channel, BinaryMessageHandler handler) {
  std::lock_guard lock(mutex_);
  if (handler) {
    handlers_[channel] = std::move(handler);
  } else {
    handlers_.erase(channel);
  }
}

bool FakeMessenger::engineConnected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

}  // namespace quillon::test
