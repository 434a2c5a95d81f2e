#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

using BinaryMessage = std::vector<uint8_t>;
// An empty reply means "not implemented".
using BinaryReply = std::function<void(BinaryMessage reply)>;
// Why a handler's codec could not read a message.
struct UndecodableMessage {
  std::string reason;
};
// A handler answers a message through its reply (once, now or later, from any
// thread) and returns nothing. A message its codec cannot read it leaves
// unanswered and returns why; the messenger then answers it as bad input.
using BinaryMessageHandler =
    std::function<std::optional<UndecodableMessage>(BinaryMessage message, BinaryReply reply)>;

// The platform-message model of an engine embedding: a channel name, a binary
// message and an optional reply.
class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Fire and forget; safe from any thread. Dropped while no engine is connected.
  virtual void send(const std::string& channel, BinaryMessage message) = 0;
  // Like send, with the engine's reply delivered on the main thread. When no
  // engine is connected nothing is sent and onReply is never called.
  virtual void sendWithReply(const std::string& channel, BinaryMessage message, BinaryReply onReply) = 0;
  // One handler per channel; an empty handler removes it. Handlers run on the
  // main thread, in the order messages arrived; the reply may be called later
  // from any thread, once.
  virtual void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;
  virtual bool engineConnected() const = 0;
};

}  // namespace quillon
