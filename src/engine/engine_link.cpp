#include "engine/engine_link.h"

#include <glib-unix.h>
#include <glib.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "engine/link_connection.h"
#include "engine/link_frame.h"
#include "engine/link_socket.h"
#include "engine/standard_codec.h"
#include "logging/logger.h"

namespace quillon {

namespace {

constexpr const char* kTag = "engine_link";

GSource* watchFd(int fd, GMainContext* context, GUnixFDSourceFunc callback, gpointer data) {
  GSource* source = g_unix_fd_source_new(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
  g_source_set_callback(source, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(callback)),
                        data, nullptr);
  g_source_attach(source, context);
  return source;
}

void dropSource(GSource*& source) {
  if (!source) return;
  g_source_destroy(source);
  g_source_unref(source);
  source = nullptr;
}

}  // namespace

struct EngineLink::Impl {
  Impl(std::string path, GMainContext* ctx, size_t maxQueued)
      : socketPath(std::move(path)),
        context(g_main_context_ref(ctx ? ctx : g_main_context_default())),
        maxQueuedBytes(maxQueued) {}

  const std::string socketPath;
  GMainContext* const context;
  const size_t maxQueuedBytes;

  // Main-context state.
  int listenFd = -1;
  dev_t socketDevice = 0;
  ino_t socketInode = 0;
  GSource* listenWatch = nullptr;
  GSource* retryWatch = nullptr;  // pending re-arm of listenWatch after a failed accept
  GSource* readWatch = nullptr;
  link::FrameReader reader;

  // Shared with sending threads.
  mutable std::mutex connectionMutex;
  std::shared_ptr<link::Connection> connection;
  // Callbacks of sendWithReply, by reply id; all belong to the current connection.
  std::unordered_map<uint32_t, BinaryReply> pendingReplies;
  uint32_t lastReplyId = 0;

  std::mutex handlersMutex;
  std::map<std::string, BinaryMessageHandler> handlers;
  BinaryMessageHandler unservedHandler;

  bool start();
  void stop();
  std::shared_ptr<link::Connection> currentConnection() const {
    std::lock_guard lock(connectionMutex);
    return connection;
  }
  bool write(const std::string& channel, BinaryMessage message, BinaryReply onReply);

  static gboolean onAcceptable(gint fd, GIOCondition condition, gpointer data);
  static gboolean onReadable(gint fd, GIOCondition condition, gpointer data);
  void accept();
  // False once the connection is gone.
  bool readAvailable();
  void handleFrame(const std::vector<uint8_t>& body, const std::shared_ptr<link::Connection>& from);
  void handleMessage(const link::Frame& frame, const std::shared_ptr<link::Connection>& from);
  void handleReply(const link::Frame& frame);
  void answerWithError(const std::shared_ptr<link::Connection>& to, uint32_t replyId,
                       const std::string& message);
  void closeConnection(const char* why);
};

bool EngineLink::Impl::start() {
  if (listenFd >= 0) return true;
  std::string error;
  listenFd = link::listenOnUnixSocket(socketPath, &error);
  if (listenFd < 0) {
    Logger::shared().error(kTag, "cannot offer the engine link: %s", error.c_str());
    return false;
  }
  struct stat st {};
  if (stat(socketPath.c_str(), &st) == 0) {
    socketDevice = st.st_dev;
    socketInode = st.st_ino;
  }
  listenWatch = watchFd(listenFd, context, &onAcceptable, this);
  Logger::shared().info(kTag, "listening for the engine on %s", socketPath.c_str());
  return true;
}

void EngineLink::Impl::stop() {
  closeConnection(nullptr);
  dropSource(listenWatch);
  dropSource(retryWatch);
  if (listenFd >= 0) {
    close(listenFd);
    listenFd = -1;
    // Only our own socket file: a later host may already have replaced it.
    struct stat st {};
    if (stat(socketPath.c_str(), &st) == 0 && st.st_dev == socketDevice && st.st_ino == socketInode) {
      unlink(socketPath.c_str());
    }
  }
}

gboolean EngineLink::Impl::onAcceptable(gint, GIOCondition, gpointer data) {
  static_cast<Impl*>(data)->accept();
  return G_SOURCE_CONTINUE;
}

void EngineLink::Impl::accept() {
  const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    Logger::shared().warning(kTag, "accepting an engine failed: %s; retrying in a second", std::strerror(errno));
    // Out of descriptors the listening socket stays readable; pause rather than spin.
    dropSource(listenWatch);
    GSource* retry = g_timeout_source_new_seconds(1);
    g_source_set_callback(
        retry,
        [](gpointer data) -> gboolean {
          auto* self = static_cast<Impl*>(data);
          g_source_unref(self->retryWatch);  // our reference; the context keeps its own until we return
          self->retryWatch = nullptr;
          if (self->listenFd >= 0) self->listenWatch = watchFd(self->listenFd, self->context, &onAcceptable, self);
          return G_SOURCE_REMOVE;
        },
        this, nullptr);
    g_source_attach(retry, context);
    retryWatch = retry;
    return;
  }
  // An engine that just left may have its end of stream still unread, as the
  // next one connects (a script running one command after another). Read what
  // the current connection holds first, which handles its last frames in order.
  if (auto current = currentConnection()) {
    pollfd pending{current->fd(), POLLIN, 0};
    if (poll(&pending, 1, 0) > 0) readAvailable();
  }
  {
    std::lock_guard lock(connectionMutex);
    if (connection) {
      close(fd);
      Logger::shared().warning(kTag, "refused a second engine while one is connected");
      return;
    }
    connection = std::make_shared<link::Connection>(fd, context, maxQueuedBytes);
  }
  reader = link::FrameReader();
  readWatch = watchFd(fd, context, &onReadable, this);
  Logger::shared().info(kTag, "engine connected");
}

void EngineLink::Impl::closeConnection(const char* why) {
  std::shared_ptr<link::Connection> closing;
  {
    std::lock_guard lock(connectionMutex);
    closing = std::move(connection);
    connection.reset();
    // Replies that can no longer come are forgotten, not answered.
    pendingReplies.clear();
  }
  if (!closing) return;
  dropSource(readWatch);
  closing->close();
  reader = link::FrameReader();
  if (why) Logger::shared().info(kTag, "engine disconnected: %s", why);
}

gboolean EngineLink::Impl::onReadable(gint, GIOCondition, gpointer data) {
  return static_cast<Impl*>(data)->readAvailable() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

bool EngineLink::Impl::readAvailable() {
  auto from = currentConnection();
  if (!from) return false;
  uint8_t chunk[64 * 1024];
  // A bounded number of reads per wake-up keeps one busy engine from starving the loop.
  for (int round = 0; round < 16; ++round) {
    const ssize_t n = recv(from->fd(), chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n <= 0) {
      closeConnection(n == 0 ? "end of stream" : std::strerror(errno));
      return false;
    }
    reader.append(chunk, static_cast<size_t>(n));
    std::vector<uint8_t> body;
    std::string error;
    for (;;) {
      const auto status = reader.next(body, &error);
      if (status == link::FrameReader::Status::kNeedMore) break;
      if (status == link::FrameReader::Status::kBroken) {
        Logger::shared().error(kTag, "bad frame from the engine: %s; closing the connection", error.c_str());
        closeConnection("broken framing");
        return false;
      }
      handleFrame(body, from);
      // A handler may have ended the connection.
      if (currentConnection() != from) return false;
    }
  }
  return true;
}

void EngineLink::Impl::handleFrame(const std::vector<uint8_t>& body,
                                   const std::shared_ptr<link::Connection>& from) {
  link::Frame frame;
  switch (link::parseFrame(body, frame)) {
    case link::ParseResult::kUnknownKind:
      Logger::shared().error(kTag, "frame of unknown kind %u (%zu bytes) from the engine; ignored", frame.kind,
                             body.size());
      return;
    case link::ParseResult::kMalformed:
      Logger::shared().error(kTag, "frame of kind %u too short for its header (%zu bytes)", frame.kind,
                             body.size());
      if (frame.kind == link::kMessageFrame) answerWithError(from, frame.replyId, "malformed message header");
      return;
    case link::ParseResult::kOk:
      break;
  }
  if (frame.kind == link::kMessageFrame) {
    handleMessage(frame, from);
  } else {
    handleReply(frame);
  }
}

void EngineLink::Impl::handleMessage(const link::Frame& frame, const std::shared_ptr<link::Connection>& from) {
  BinaryMessageHandler handler;
  bool served = false;
  {
    std::lock_guard lock(handlersMutex);
    auto it = handlers.find(frame.channel);
    served = it != handlers.end();
    handler = served ? it->second : unservedHandler;
  }

  BinaryReply reply;
  if (frame.replyId != 0) {
    std::weak_ptr<link::Connection> to = from;
    auto answered = std::make_shared<std::atomic<bool>>(false);
    reply = [to, answered, id = frame.replyId, channel = frame.channel](BinaryMessage payload) {
      if (answered->exchange(true)) {
        Logger::shared().error(kTag, "reply %u on %s sent twice; the second is dropped", id, channel.c_str());
        return;
      }
      auto connection = to.lock();
      if (!connection || !connection->writeFrame(link::encodeReplyFrame(id, payload))) {
        Logger::shared().debug(kTag, "reply %u on %s dropped: the engine is gone", id, channel.c_str());
      }
    };
  } else {
    reply = [](BinaryMessage) {};
  }

  const auto undecodable =
      handler ? handler(BinaryMessage(frame.payload.begin(), frame.payload.end()), reply) : std::nullopt;
  if (undecodable) {
    Logger::shared().error(kTag, "undecodable message on %s (%zu bytes): %s", frame.channel.c_str(),
                           frame.payload.size(), undecodable->reason.c_str());
    reply(StandardCodec::encodeErrorEnvelope("BAD_MESSAGE", "undecodable method call: " + undecodable->reason,
                                             EncodableValue()));
    return;
  }
  if (!served) {
    Logger::shared().debug(kTag, "no handler on %s; answering not implemented", frame.channel.c_str());
    if (!handler) reply({});
  }
}

void EngineLink::Impl::handleReply(const link::Frame& frame) {
  BinaryReply onReply;
  {
    std::lock_guard lock(connectionMutex);
    auto it = pendingReplies.find(frame.replyId);
    if (it != pendingReplies.end()) {
      onReply = std::move(it->second);
      pendingReplies.erase(it);
    }
  }
  if (!onReply) {
    Logger::shared().warning(kTag, "reply %u from the engine answers nothing pending; ignored", frame.replyId);
    return;
  }
  onReply(BinaryMessage(frame.payload.begin(), frame.payload.end()));
}

void EngineLink::Impl::answerWithError(const std::shared_ptr<link::Connection>& to, uint32_t replyId,
                                       const std::string& message) {
  if (replyId == 0) return;
  to->writeFrame(link::encodeReplyFrame(
      replyId, StandardCodec::encodeErrorEnvelope("BAD_MESSAGE", message, EncodableValue())));
}

bool EngineLink::Impl::write(const std::string& channel, BinaryMessage message, BinaryReply onReply) {
  if (channel.size() > 0xFFFF) {
    Logger::shared().error(kTag, "channel name of %zu bytes cannot be framed; message dropped", channel.size());
    return false;
  }
  if (message.size() + channel.size() + 7 > link::kMaxFrameLength) {
    Logger::shared().error(kTag, "message of %zu bytes on %s exceeds the frame limit; dropped", message.size(),
                           channel.c_str());
    return false;
  }
  std::shared_ptr<link::Connection> to;
  uint32_t replyId = 0;
  {
    std::lock_guard lock(connectionMutex);
    if (!connection) return false;  // no engine: dropped, as promised
    to = connection;
    if (onReply) {
      do {
        replyId = ++lastReplyId;
      } while (replyId == 0 || pendingReplies.count(replyId));
      pendingReplies.emplace(replyId, std::move(onReply));
    }
  }
  // The payload goes out as it is, after its header: never copied again.
  const size_t length = message.size();
  if (to->writeFrame(link::encodeMessageFrameHead(replyId, channel, length), std::move(message))) return true;
  if (replyId != 0) {
    std::lock_guard lock(connectionMutex);
    pendingReplies.erase(replyId);
  }
  return false;
}

EngineLink::EngineLink(std::string socketPath, GMainContext* context, size_t maxQueuedBytes)
    : impl_(std::make_unique<Impl>(std::move(socketPath), context, maxQueuedBytes)) {}

EngineLink::~EngineLink() {
  impl_->stop();
  g_main_context_unref(impl_->context);
}

std::string EngineLink::defaultSocketPath() { return link::defaultSocketPath(); }

bool EngineLink::start() { return impl_->start(); }

const std::string& EngineLink::socketPath() const { return impl_->socketPath; }

void EngineLink::setUnservedChannelHandler(BinaryMessageHandler handler) {
  std::lock_guard lock(impl_->handlersMutex);
  impl_->unservedHandler = std::move(handler);
}

void EngineLink::send(const std::string& channel, BinaryMessage message) {
  impl_->write(channel, std::move(message), nullptr);
}

void EngineLink::sendWithReply(const std::string& channel, BinaryMessage message, BinaryReply onReply) {
  impl_->write(channel, std::move(message), std::move(onReply));
}

void EngineLink::setMessageHandler(const std::string& channel, BinaryMessageHandler handler) {
  std::lock_guard lock(impl_->handlersMutex);
  if (handler) {
    impl_->handlers[channel] = std::move(handler);
  } else {
    impl_->handlers.erase(channel);
  }
}

bool EngineLink::engineConnected() const { return impl_->currentConnection() != nullptr; }

}  // namespace quillon
