#include "engine/link_connection.h"

#include <glib-unix.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "logging/logger.h"

namespace quillon::link {

namespace {
constexpr const char* kTag = "engine_link";
}

Connection::Connection(int fd, GMainContext* context, size_t maxQueuedBytes)
    : fd_(fd), context_(g_main_context_ref(context)), maxQueuedBytes_(maxQueuedBytes) {}

Connection::~Connection() {
  close();
  g_main_context_unref(context_);
}

bool Connection::isClosed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

size_t Connection::queuedBytes() const {
  std::lock_guard lock(mutex_);
  return queuedBytes_;
}

void Connection::close() {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  closed_ = true;
  dropWatchLocked();
  queue_.clear();
  queuedBytes_ = 0;
  ::close(fd_);
}

bool Connection::writeFrame(std::vector<uint8_t> frame) { return writeFrame(std::move(frame), {}); }

bool Connection::writeFrame(std::vector<uint8_t> head, std::vector<uint8_t> body) {
  std::lock_guard lock(mutex_);
  if (closed_ || broken_) return false;
  if (!queue_.empty() && flushLocked() == Flush::kFailed) return false;
  const size_t total = head.size() + body.size();

  if (queue_.empty()) {
    // Both parts in one call, straight from where they lie: a large body
    // (an audio block) is never copied into a frame of its own.
    size_t sent = 0;
    while (sent < total) {
      iovec parts[2];
      size_t count = 0;
      if (sent < head.size()) parts[count++] = {head.data() + sent, head.size() - sent};
      const size_t bodySent = sent > head.size() ? sent - head.size() : 0;
      if (body.size() > bodySent) parts[count++] = {body.data() + bodySent, body.size() - bodySent};
      msghdr message{};
      message.msg_iov = parts;
      message.msg_iovlen = count;
      const ssize_t n = ::sendmsg(fd_, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        break;
      } else {
        failLocked(n < 0 ? errno : EPIPE);
        return false;
      }
    }
    if (sent == total) return true;
    // A frame begun on the socket must be finished before any other, whatever the bound.
    queuedBytes_ += total - sent;
    if (sent < head.size()) {
      frontOffset_ = sent;
      queue_.push_back(std::move(head));
      if (!body.empty()) queue_.push_back(std::move(body));
    } else {
      frontOffset_ = sent - head.size();
      queue_.push_back(std::move(body));
    }
    watchWritableLocked();
    return true;
  }

  if (queuedBytes_ + total > maxQueuedBytes_) {
    if (!dropping_) {
      dropping_ = true;
      Logger::shared().warning(kTag,
                               "the engine is not reading; dropping messages while %zu bytes wait",
                               queuedBytes_);
    }
    return false;
  }
  queuedBytes_ += total;
  if (!head.empty()) queue_.push_back(std::move(head));
  if (!body.empty()) queue_.push_back(std::move(body));
  watchWritableLocked();
  return true;
}

Connection::Flush Connection::flushLocked() {
  while (!queue_.empty()) {
    auto& front = queue_.front();
    const ssize_t n = ::send(fd_, front.data() + frontOffset_, front.size() - frontOffset_,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Flush::kBlocked;
    if (n <= 0) {
      failLocked(n < 0 ? errno : EPIPE);
      return Flush::kFailed;
    }
    frontOffset_ += static_cast<size_t>(n);
    queuedBytes_ -= static_cast<size_t>(n);
    if (frontOffset_ == front.size()) {
      queue_.pop_front();
      frontOffset_ = 0;
    }
  }
  if (dropping_) {
    dropping_ = false;
    Logger::shared().info(kTag, "the engine reads again; messages flow");
  }
  return Flush::kDone;
}

void Connection::failLocked(int error) {
  broken_ = true;
  Logger::shared().warning(kTag, "writing to the engine failed: %s", std::strerror(error));
  queue_.clear();
  queuedBytes_ = 0;
  dropWatchLocked();
  // The reading side then sees the end of the stream and closes on the main thread.
  ::shutdown(fd_, SHUT_RDWR);
}

void Connection::watchWritableLocked() {
  if (writeWatch_) return;
  writeWatch_ = g_unix_fd_source_new(fd_, G_IO_OUT);
  g_source_set_callback(writeWatch_, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(&onWritable)),
                        new std::weak_ptr<Connection>(weak_from_this()),
                        [](gpointer data) { delete static_cast<std::weak_ptr<Connection>*>(data); });
  g_source_attach(writeWatch_, context_);
}

void Connection::dropWatchLocked() {
  if (!writeWatch_) return;
  g_source_destroy(writeWatch_);
  g_source_unref(writeWatch_);
  writeWatch_ = nullptr;
}

gboolean Connection::onWritable(gint, GIOCondition, gpointer data) {
  auto self = static_cast<std::weak_ptr<Connection>*>(data)->lock();
  if (!self) return G_SOURCE_REMOVE;
  std::lock_guard lock(self->mutex_);
  if (self->closed_ || self->broken_) return G_SOURCE_REMOVE;
  if (self->flushLocked() == Flush::kBlocked) return G_SOURCE_CONTINUE;
  // Drained (or failed, which already dropped the watch): forget it; returning
  // REMOVE lets the context destroy it.
  if (self->writeWatch_) {
    g_source_unref(self->writeWatch_);
    self->writeWatch_ = nullptr;
  }
  return G_SOURCE_REMOVE;
}

}  // namespace quillon::link
