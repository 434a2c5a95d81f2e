#include "engine/engine_link_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/link_socket.h"
#include "engine/standard_codec.h"
#include "logging/logger.h"

namespace quillon {

namespace {

void setError(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
}

}  // namespace

EngineLinkClient::~EngineLinkClient() { close(); }

bool EngineLinkClient::connect(const std::string& socketPath, std::string* error) {
  close();
  fd_ = link::connectToUnixSocket(socketPath, error);
  return fd_ >= 0;
}

void EngineLinkClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  reader_ = link::FrameReader();
  pending_.clear();
}

bool EngineLinkClient::sendRaw(const std::vector<uint8_t>& bytes, std::string* error) {
  if (fd_ < 0) {
    setError(error, "not connected");
    return false;
  }
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      setError(error, formatString("sending to the host failed: %s", std::strerror(errno)));
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool EngineLinkClient::reply(uint32_t replyId, const BinaryMessage& payload, std::string* error) {
  return sendRaw(link::encodeReplyFrame(replyId, payload), error);
}

std::optional<std::vector<uint8_t>> EngineLinkClient::readFrame(Clock::time_point deadline,
                                                                std::string* error) {
  std::vector<uint8_t> body;
  for (;;) {
    std::string reason;
    const auto status = reader_.next(body, &reason);
    if (status == link::FrameReader::Status::kFrame) return body;
    if (status == link::FrameReader::Status::kBroken) {
      setError(error, "the host sent a broken frame: " + reason);
      return std::nullopt;
    }
    if (fd_ < 0) {
      setError(error, "not connected");
      return std::nullopt;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      setError(error, "");
      return std::nullopt;
    }
    pollfd entry{fd_, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::min<int64_t>(left.count(), 60'000)));
    if (ready < 0 && errno != EINTR) {
      setError(error, formatString("poll: %s", std::strerror(errno)));
      return std::nullopt;
    }
    if (ready <= 0) continue;
    uint8_t chunk[64 * 1024];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      setError(error, n == 0 ? "the host closed the connection (is another engine connected?)"
                             : formatString("reading from the host failed: %s", std::strerror(errno)));
      ::close(fd_);
      fd_ = -1;
      return std::nullopt;
    }
    reader_.append(chunk, static_cast<size_t>(n));
  }
}

std::optional<MethodReply> EngineLinkClient::call(const std::string& channel, const std::string& method,
                                                  const EncodableValue& arguments,
                                                  std::chrono::milliseconds timeout, std::string* error) {
  uint32_t replyId = ++lastReplyId_;
  if (replyId == 0) replyId = ++lastReplyId_;
  const auto payload = StandardCodec::encodeMethodCall(MethodCall{method, arguments});
  if (!sendRaw(link::encodeMessageFrame(replyId, channel, payload), error)) return std::nullopt;

  const auto deadline = Clock::now() + timeout;
  for (;;) {
    std::string reason;
    auto body = readFrame(deadline, &reason);
    if (!body) {
      setError(error, reason.empty() ? formatString("no reply within %lld ms", static_cast<long long>(timeout.count()))
                                     : reason);
      return std::nullopt;
    }
    link::Frame frame;
    if (link::parseFrame(*body, frame) != link::ParseResult::kOk) continue;
    if (frame.kind == link::kMessageFrame) {
      pending_.push_back({frame.channel, frame.replyId, BinaryMessage(frame.payload.begin(), frame.payload.end())});
      continue;
    }
    if (frame.replyId != replyId) continue;  // a late answer to an earlier, abandoned call
    auto reply = StandardCodec::decodeEnvelope(frame.payload, &reason);
    if (!reply) setError(error, "undecodable reply: " + reason);
    return reply;
  }
}

std::optional<EngineLinkClient::HostMessage> EngineLinkClient::receive(std::chrono::milliseconds timeout,
                                                                       std::string* error) {
  setError(error, "");
  if (!pending_.empty()) {
    HostMessage next = std::move(pending_.front());
    pending_.pop_front();
    return next;
  }
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    auto body = readFrame(deadline, error);
    if (!body) return std::nullopt;
    link::Frame frame;
    if (link::parseFrame(*body, frame) != link::ParseResult::kOk || frame.kind != link::kMessageFrame) continue;
    return HostMessage{frame.channel, frame.replyId, BinaryMessage(frame.payload.begin(), frame.payload.end())};
  }
}

}  // namespace quillon
