#pragma once

#include <glib.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace quillon::link {

// The writing half of one engine connection. Frames may be written from any
// thread; each goes out whole, in the order the writes were made. What the
// socket cannot take at once waits in a bounded queue that a watch on the
// main context drains, so no writer ever blocks on a slow engine.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(int fd, GMainContext* context, size_t maxQueuedBytes);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  int fd() const { return fd_; }
  // False when the frame was not sent: the connection is closed or broken, or
  // the queue is full.
  bool writeFrame(std::vector<uint8_t> frame);
  // The same for a frame in two parts (its header, then its payload), sent
  // as one without joining them.
  bool writeFrame(std::vector<uint8_t> head, std::vector<uint8_t> body);
  // Stops all writing and closes the descriptor; any thread, idempotent.
  void close();
  bool isClosed() const;
  size_t queuedBytes() const;

 private:
  enum class Flush { kDone, kBlocked, kFailed };
  Flush flushLocked();
  void failLocked(int error);
  void watchWritableLocked();
  void dropWatchLocked();
  static gboolean onWritable(gint fd, GIOCondition condition, gpointer data);

  const int fd_;
  GMainContext* const context_;
  const size_t maxQueuedBytes_;

  mutable std::mutex mutex_;
  bool closed_ = false;
  bool broken_ = false;
  bool dropping_ = false;  // inside an episode of a full queue, which is logged once
  std::deque<std::vector<uint8_t>> queue_;
  size_t frontOffset_ = 0;  // bytes of the front frame already sent
  size_t queuedBytes_ = 0;
  GSource* writeWatch_ = nullptr;
};

}  // namespace quillon::link
