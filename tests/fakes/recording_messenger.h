#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/binary_messenger.h"
#include "engine/standard_codec.h"

namespace quillon::test {

// An engine link that keeps what the host sends; whether an engine is
// connected is up to the test. Like the real link it drops messages while no
// engine is connected.
class RecordingMessenger final : public BinaryMessenger {
 public:
  struct Sent {
    std::string channel;
    std::optional<MethodCall> call;
    BinaryReply onReply;  // empty for fire-and-forget messages
  };

  bool connected = true;
  std::vector<Sent> sent;

  void send(const std::string& channel, BinaryMessage message) override {
    if (connected) sent.push_back({channel, StandardCodec::decodeMethodCall(message), nullptr});
  }
  void sendWithReply(const std::string& channel, BinaryMessage message, BinaryReply onReply) override {
    if (connected) sent.push_back({channel, StandardCodec::decodeMethodCall(message), std::move(onReply)});
  }
  void setMessageHandler(const std::string&, BinaryMessageHandler) override {}
  bool engineConnected() const override { return connected; }
};

}  // namespace quillon::test
