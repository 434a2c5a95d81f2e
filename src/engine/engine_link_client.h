#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "engine/binary_messenger.h"
#include "engine/encodable_value.h"
#include "engine/link_frame.h"
#include "engine/method_result.h"

namespace quillon {

// The engine's end of the engine link, blocking and single-threaded: for the
// command-line engine and tests.
class EngineLinkClient {
 public:
  // A message the host sent; replyId 0 means the host wants no answer.
  struct HostMessage {
    std::string channel;
    uint32_t replyId = 0;
    BinaryMessage payload;
  };

  EngineLinkClient() = default;
  ~EngineLinkClient();
  EngineLinkClient(const EngineLinkClient&) = delete;
  EngineLinkClient& operator=(const EngineLinkClient&) = delete;

  // False, with a reason that says whether a host listens, when it cannot connect.
  bool connect(const std::string& socketPath, std::string* error = nullptr);
  void close();
  bool connected() const { return fd_ >= 0; }

  // Calls a method and waits for its reply. Host messages that arrive
  // meanwhile are kept for receive(). nullopt, with the reason, on a timeout,
  // a lost connection or an undecodable reply.
  std::optional<MethodReply> call(const std::string& channel, const std::string& method,
                                  const EncodableValue& arguments, std::chrono::milliseconds timeout,
                                  std::string* error = nullptr);

  // The next message from the host; nullopt on timeout (error empty) or a lost
  // connection (error set).
  std::optional<HostMessage> receive(std::chrono::milliseconds timeout, std::string* error = nullptr);

  // Answers a host message that asked for a reply (an empty payload: not implemented).
  bool reply(uint32_t replyId, const BinaryMessage& payload, std::string* error = nullptr);

  // Sends raw bytes as they stand, for tests of malformed input.
  bool sendRaw(const std::vector<uint8_t>& bytes, std::string* error = nullptr);

 private:
  using Clock = std::chrono::steady_clock;
  // The next frame body, or nullopt on timeout (error empty) or failure.
  std::optional<std::vector<uint8_t>> readFrame(Clock::time_point deadline, std::string* error);

  int fd_ = -1;
  link::FrameReader reader_;
  std::deque<HostMessage> pending_;
  uint32_t lastReplyId_ = 0;
};

}  // namespace quillon
