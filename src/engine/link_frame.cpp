#include "engine/link_frame.h"

#include <cstring>

#include "logging/logger.h"

namespace quillon::link {

uint32_t readU32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void appendU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

std::vector<uint8_t> encodeMessageFrameHead(uint32_t replyId, std::string_view channel, size_t payloadLength,
                                            size_t reserve) {
  const size_t bodyLength = 1 + 4 + 2 + channel.size() + payloadLength;
  std::vector<uint8_t> frame;
  frame.reserve(4 + bodyLength - payloadLength + reserve);
  appendU32(frame, static_cast<uint32_t>(bodyLength));
  frame.push_back(kMessageFrame);
  appendU32(frame, replyId);
  frame.push_back(static_cast<uint8_t>(channel.size()));
  frame.push_back(static_cast<uint8_t>(channel.size() >> 8));
  frame.insert(frame.end(), channel.begin(), channel.end());
  return frame;
}

std::vector<uint8_t> encodeMessageFrame(uint32_t replyId, std::string_view channel,
                                        std::span<const uint8_t> payload) {
  std::vector<uint8_t> frame = encodeMessageFrameHead(replyId, channel, payload.size(), payload.size());
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

std::vector<uint8_t> encodeReplyFrame(uint32_t replyId, std::span<const uint8_t> payload) {
  std::vector<uint8_t> frame;
  frame.reserve(4 + 5 + payload.size());
  appendU32(frame, static_cast<uint32_t>(5 + payload.size()));
  frame.push_back(kReplyFrame);
  appendU32(frame, replyId);
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

ParseResult parseFrame(std::span<const uint8_t> body, Frame& out) {
  out = Frame{};
  if (body.empty()) return ParseResult::kMalformed;
  out.kind = body[0];
  if (out.kind != kMessageFrame && out.kind != kReplyFrame) return ParseResult::kUnknownKind;
  if (body.size() < 5) return ParseResult::kMalformed;
  out.replyId = readU32(body.data() + 1);
  if (out.kind == kReplyFrame) {
    out.payload = body.subspan(5);
    return ParseResult::kOk;
  }
  if (body.size() < 7) return ParseResult::kMalformed;
  const size_t channelLength = body[5] | static_cast<size_t>(body[6]) << 8;
  if (channelLength > body.size() - 7) return ParseResult::kMalformed;
  out.channel.assign(reinterpret_cast<const char*>(body.data() + 7), channelLength);
  out.payload = body.subspan(7 + channelLength);
  return ParseResult::kOk;
}

void FrameReader::append(const uint8_t* data, size_t length) {
  // Drop what was handed out before growing, so the buffer stays about one frame long.
  if (consumed_ > 0 && consumed_ >= buffer_.size() / 2) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    consumed_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + length);
}

FrameReader::Status FrameReader::next(std::vector<uint8_t>& body, std::string* error) {
  const size_t available = buffer_.size() - consumed_;
  if (available < 4) return Status::kNeedMore;
  const uint32_t length = readU32(buffer_.data() + consumed_);
  if (length == 0 || length > kMaxFrameLength) {
    if (error) *error = formatString("frame length %u is out of range (1 to %zu)", length, kMaxFrameLength);
    return Status::kBroken;
  }
  if (available - 4 < length) return Status::kNeedMore;
  const auto* start = buffer_.data() + consumed_ + 4;
  body.assign(start, start + length);
  consumed_ += 4 + length;
  if (consumed_ == buffer_.size()) {
    buffer_.clear();
    consumed_ = 0;
  }
  return Status::kFrame;
}

}  // namespace quillon::link
