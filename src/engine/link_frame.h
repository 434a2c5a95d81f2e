#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::link {

// The engine link's framing: a u32 little-endian length, then that many bytes
// whose first byte is the kind.
constexpr uint8_t kMessageFrame = 1;  // u32 reply id, u16 channel length, channel, payload
constexpr uint8_t kReplyFrame = 2;    // u32 reply id, payload
constexpr size_t kMaxFrameLength = 64u * 1024 * 1024;

// A message frame's length, kind, reply id and channel: everything before
// its payload of `payloadLength` bytes (room for `reserve` more is kept).
std::vector<uint8_t> encodeMessageFrameHead(uint32_t replyId, std::string_view channel, size_t payloadLength,
                                            size_t reserve = 0);
std::vector<uint8_t> encodeMessageFrame(uint32_t replyId, std::string_view channel,
                                        std::span<const uint8_t> payload);
std::vector<uint8_t> encodeReplyFrame(uint32_t replyId, std::span<const uint8_t> payload);

// One frame body (the bytes after the length), split into its fields.
struct Frame {
  uint8_t kind = 0;
  uint32_t replyId = 0;
  std::string channel;  // messages only
  std::span<const uint8_t> payload;
};

enum class ParseResult {
  kOk,
  kUnknownKind,
  kMalformed,  // a known kind whose header does not fit; replyId is set when it could be read
};
ParseResult parseFrame(std::span<const uint8_t> body, Frame& out);

// Cuts a byte stream into frame bodies.
class FrameReader {
 public:
  enum class Status { kNeedMore, kFrame, kBroken };

  void append(const uint8_t* data, size_t length);
  // kFrame fills `body`; kBroken (a zero or oversized length) means the stream
  // can no longer be followed, with the reason in *error.
  Status next(std::vector<uint8_t>& body, std::string* error);
  size_t buffered() const { return buffer_.size() - consumed_; }

 private:
  std::vector<uint8_t> buffer_;
  size_t consumed_ = 0;
};

uint32_t readU32(const uint8_t* bytes);
void appendU32(std::vector<uint8_t>& out, uint32_t value);

}  // namespace quillon::link
