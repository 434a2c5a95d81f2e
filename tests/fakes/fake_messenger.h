#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/binary_messenger.h"
#include "engine/method_call.h"
#include "engine/method_result.h"

namespace quillon::test {

// The test plays the engine: handlers run on the thread that calls call();
// the code under test may send from any thread.
class FakeMessenger : public BinaryMessenger {
 public:
  struct SentMessage {
    std::string channel;
    MethodCall call;  // method "<undecodable>" when the bytes were not a method call
    bool wantsReply = false;
  };

  // The reply when it came before the handler returned, else nullopt. No
  // handler answers "not implemented", as on the engine link.
  std::optional<MethodReply> call(const std::string& channel, const std::string& method,
                                  EncodableValue args = {});
  // The same for raw bytes (the fuzzer's): a message the handler reports
  // undecodable gets no reply here (the engine link answers it) and its
  // reason in *undecodable.
  std::optional<BinaryMessage> deliverRaw(const std::string& channel, BinaryMessage message,
                                          std::string* undecodable = nullptr);

  // What the code under test sent; a reply it asked for never comes.
  std::vector<SentMessage> sent() const;
  void setEngineConnected(bool connected) { connected_ = connected; }

  void send(const std::string& channel, BinaryMessage message) override {
    sendWithReply(channel, std::move(message), nullptr);
  }
  void sendWithReply(const std::string& channel, BinaryMessage message, BinaryReply onReply) override;
  void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;
  bool engineConnected() const override { return connected_; }

 private:
  mutable std::mutex mutex_;
  std::atomic<bool> connected_{true};
  std::map<std::string, BinaryMessageHandler> handlers_;
  std::vector<SentMessage> sent_;
};

}  // namespace quillon::test

namespace quillon {
using test::FakeMessenger;
}  // namespace quillon
