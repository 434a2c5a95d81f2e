#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "engine/binary_messenger.h"

typedef struct _GMainContext GMainContext;

namespace quillon {

// The host's end of the engine link: platform messages carried over a Unix
// stream socket, one engine at a time. It carries bytes: the channels'
// handlers read the messages, and one they report unreadable the link answers
// as bad input. Reading and dispatching run on the given GLib main context
// (the default one unless given), whose thread is the main thread for the
// handlers.
class EngineLink : public BinaryMessenger {
 public:
  // Bytes waiting for a slow engine beyond which further messages are dropped.
  static constexpr size_t kDefaultMaxQueuedBytes = 16u * 1024 * 1024;

  explicit EngineLink(std::string socketPath, GMainContext* context = nullptr,
                      size_t maxQueuedBytes = kDefaultMaxQueuedBytes);
  ~EngineLink() override;
  EngineLink(const EngineLink&) = delete;
  EngineLink& operator=(const EngineLink&) = delete;

  // $XDG_RUNTIME_DIR/quillon/engine.sock, else /tmp/quillon-UID/engine.sock.
  static std::string defaultSocketPath();

  // Creates the socket and starts accepting; false (logged) when it cannot.
  bool start();
  const std::string& socketPath() const;

  // Reads the messages on channels that have no handler. Without one they
  // are answered "not implemented" unread.
  void setUnservedChannelHandler(BinaryMessageHandler handler);

  // Messages too large for one frame are dropped (logged). The callback of
  // sendWithReply is forgotten, never called, when the engine goes before it answers.
  void send(const std::string& channel, BinaryMessage message) override;
  void sendWithReply(const std::string& channel, BinaryMessage message, BinaryReply onReply) override;
  void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;
  bool engineConnected() const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillon
