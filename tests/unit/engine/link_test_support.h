#pragma once

#include <glib.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_link.h"
#include "engine/standard_codec.h"
#include "support/log_capture.h"
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

// A handler that answers every message itself.
inline BinaryMessageHandler answering(std::function<void(BinaryMessage, BinaryReply)> answer) {
  return [answer = std::move(answer)](BinaryMessage message, BinaryReply reply) -> std::optional<UndecodableMessage> {
    answer(std::move(message), std::move(reply));
    return std::nullopt;
  };
}

// An engine written straight against the wire format, independent of the
// project's own framing code.
class RawEngine {
 public:
  explicit RawEngine(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawEngine() { close(fd_); }
  bool connected() const { return connected_; }

  void write(const Bytes& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  static Bytes le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  }
  // Byte by byte: GCC 12 at -O3 reports false overflows for range inserts into short vectors.
  static void append(Bytes& out, const auto& range) {
    for (auto byte : range) out.push_back(uint8_t(byte));
  }
  static Bytes frame(const Bytes& body) {
    Bytes out = le32(static_cast<uint32_t>(body.size()));
    append(out, body);
    return out;
  }
  static Bytes message(uint32_t replyId, const std::string& channel, const Bytes& payload) {
    Bytes body{1};
    append(body, le32(replyId));
    body.push_back(uint8_t(channel.size()));
    body.push_back(uint8_t(channel.size() >> 8));
    append(body, channel);
    append(body, payload);
    return frame(body);
  }
  static Bytes call(uint32_t replyId, const std::string& channel, const std::string& method) {
    return message(replyId, channel, StandardCodec::encodeMethodCall({method, {}}));
  }
  void sendCall(uint32_t replyId, const std::string& channel, const std::string& method) {
    write(call(replyId, channel, method));
  }

  // The next frame body; nullopt when the peer closed or nothing came in time.
  std::optional<Bytes> readFrame() {
    Bytes header(4);
    if (!readExactly(header)) return std::nullopt;
    const uint32_t length = header[0] | header[1] << 8 | header[2] << 16 | uint32_t(header[3]) << 24;
    Bytes body(length);
    if (!readExactly(body)) return std::nullopt;
    return body;
  }

  struct Reply {
    uint32_t id;
    Bytes payload;
  };
  std::optional<Reply> readReply() {
    auto body = readFrame();
    if (!body || body->size() < 5 || (*body)[0] != 2) return std::nullopt;
    return Reply{uint32_t((*body)[1] | (*body)[2] << 8 | (*body)[3] << 16 | uint32_t((*body)[4]) << 24),
                 Bytes(body->begin() + 5, body->end())};
  }

  // True when the host closes the connection within the patience.
  bool closedByHost() {
    uint8_t byte;
    while (waitReadable()) {
      const ssize_t n = recv(fd_, &byte, 1, 0);
      if (n <= 0) return true;
    }
    return false;
  }

  int fd() const { return fd_; }

 private:
  bool waitReadable() {
    pollfd entry{fd_, POLLIN, 0};
    return poll(&entry, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) > 0;
  }
  bool readExactly(Bytes& out) {
    for (size_t done = 0; done < out.size();) {
      if (!waitReadable()) return false;
      const ssize_t n = recv(fd_, out.data() + done, out.size() - done, 0);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  int fd_ = -1;
  bool connected_ = false;
};

// An EngineLink on a private socket whose main context runs on its own thread.
class LinkRunner {
 public:
  explicit LinkRunner(size_t maxQueuedBytes = EngineLink::kDefaultMaxQueuedBytes)
      : path_((dir_.path() / "engine.sock").string()),
        context_(g_main_context_new()),
        loop_(g_main_loop_new(context_, FALSE)),
        link_(std::make_unique<EngineLink>(path_, context_, maxQueuedBytes)) {
    started_ = link_->start();
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
  bool started() const { return started_; }
  std::thread::id loopThread() const { return thread_.get_id(); }

 private:
  TempDir dir_;
  std::string path_;
  GMainContext* context_;
  GMainLoop* loop_;
  std::unique_ptr<EngineLink> link_;
  bool started_ = false;
  std::thread thread_;
};

}  // namespace quillon::test
