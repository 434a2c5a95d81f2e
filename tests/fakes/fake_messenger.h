#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/binary_messenger.h"
#include "engine/method_call.h"
#include "engine/method_result.h"

namespace quillon::test {

// An in-memory messenger for unit tests of channel handlers: the test plays
// the engine. Handlers run on the thread that calls call(); messages the code
// under test sends may come from any thread.
class FakeMessenger : public BinaryMessenger {
 public:
  struct SentMessage {
    std::string channel;
    MethodCall call;  // method "<undecodable>" when the bytes were not a method call
    bool wantsReply = false;
  };

  // Delivers an encoded call to the channel's handler. Returns the decoded
  // reply when it was answered before the handler returned (not implemented
  // when no handler is installed), nullopt when it was not (see lastReply).
  // A reply must not come after the messenger is destroyed.
  std::optional<MethodReply> call(const std::string& channel, const std::string& method,
                                  EncodableValue args = {});
  // Delivers raw bytes, for undecodable input; the raw reply, if any.
  std::optional<BinaryMessage> deliverRaw(const std::string& channel, BinaryMessage message);
  // The latest reply on a channel, including ones answered after call() returned.
  std::optional<MethodReply> lastReply(const std::string& channel) const;

  std::vector<SentMessage> sent() const;
  void clearSent();
  // Answers the oldest pending sendWithReply on `channel`; false when none waits.
  bool answerPending(const std::string& channel, BinaryMessage reply);

  void setEngineConnected(bool connected);
  bool hasHandler(const std::string& channel) const;

  void send(const std::string& channel, BinaryMessage message) override;
  void sendWithReply(const std::string& channel, BinaryMessage message, BinaryReply onReply) override;
  void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;
  bool engineConnected() const override;

 private:
  void record(const std::string& channel, const BinaryMessage& message, bool wantsReply);

  mutable std::mutex mutex_;
  bool connected_ = true;
  std::map<std::string, BinaryMessageHandler> handlers_;
  std::map<std::string, MethodReply> lastReplies_;
  std::vector<SentMessage> sent_;
  std::multimap<std::string, BinaryReply> pending_;
};

}  // namespace quillon::test

namespace quillon {
using test::FakeMessenger;
}  // namespace quillon
