#pragma once

#include <glib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_link.h"
#include "engine/link_frame.h"
#include "engine/link_socket.h"
#include "engine/standard_codec.h"
#include "support/test_support.h"
#include "value_printer.h"

namespace quillon::test {

using Bytes = std::vector<uint8_t>;
constexpr auto kPatience = std::chrono::seconds(20);

inline bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// An engine on a bare socket that writes any bytes, well formed or not. The
// framing itself is checked against an implementation of its own end to end
// (integration/engine_session.py).
class RawEngine {
 public:
  struct Frame {
    uint8_t kind;
    uint32_t replyId;
    std::string channel;
    Bytes payload;
  };

  explicit RawEngine(const std::string& path) : fd_(link::connectToUnixSocket(path, nullptr)) {}
  ~RawEngine() { ::close(fd_); }
  int fd() const { return fd_; }

  void write(const Bytes& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  void sendCall(uint32_t replyId, const std::string& channel, const std::string& method) {
    write(link::encodeMessageFrame(replyId, channel, StandardCodec::encodeMethodCall({method, {}})));
  }

  // The host's next frame; nullopt when the host closed (closed_) or nothing came in time.
  std::optional<Frame> next() {
    Bytes body;
    while (reader_.next(body, nullptr) == link::FrameReader::Status::kNeedMore) {
      pollfd entry{fd_, POLLIN, 0};
      uint8_t chunk[64 * 1024];
      const ssize_t n = poll(&entry, 1, 20'000) > 0 ? recv(fd_, chunk, sizeof chunk, 0) : -1;
      closed_ = n == 0;
      if (n <= 0) return std::nullopt;
      reader_.append(chunk, static_cast<size_t>(n));
    }
    link::Frame frame;
    if (body.empty() || link::parseFrame(body, frame) != link::ParseResult::kOk) return std::nullopt;
    return Frame{frame.kind, frame.replyId, frame.channel, Bytes(frame.payload.begin(), frame.payload.end())};
  }
  // True when the host hangs up within the patience.
  bool closedByHost() {
    while (next()) continue;
    return closed_;
  }

 private:
  int fd_;
  link::FrameReader reader_;
  bool closed_ = false;
};

// The success value of a reply frame, or a text that says what came instead.
inline EncodableValue successValue(const std::optional<RawEngine::Frame>& reply) {
  auto decoded = reply ? StandardCodec::decodeEnvelope(reply->payload) : std::nullopt;
  if (!decoded || !std::holds_alternative<MethodSuccess>(*decoded)) return "<not a success>";
  return std::get<MethodSuccess>(*decoded).value;
}

// An EngineLink on a private socket whose main context runs on its own thread.
class LinkRunner {
 public:
  explicit LinkRunner(size_t maxQueuedBytes = EngineLink::kDefaultMaxQueuedBytes)
      : path_((dir_.path() / "engine.sock").string()),
        context_(g_main_context_new()),
        loop_(g_main_loop_new(context_, FALSE)),
        link_(std::make_unique<EngineLink>(path_, context_, maxQueuedBytes)) {
    link_->start();  // its outcome is SocketFileModes' to check
    thread_ = std::thread([this] { g_main_loop_run(loop_); });
    while (!g_main_loop_is_running(loop_)) std::this_thread::yield();
  }
  ~LinkRunner() {
    g_main_loop_quit(loop_);
    thread_.join();
    link_.reset();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }

  EngineLink& link() { return *link_; }
  const std::string& path() const { return path_; }
  std::thread::id loopThread() const { return thread_.get_id(); }

 private:
  TempDir dir_;
  std::string path_;
  GMainContext* context_;
  GMainLoop* loop_;
  std::unique_ptr<EngineLink> link_;
  std::thread thread_;
};

}  // namespace quillon::test
