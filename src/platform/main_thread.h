#pragma once

#include <functional>

namespace quillon {

// The thread that runs channel handlers, menu actions and the sending of
// messages to the engine. On Linux it is the GLib main loop of the default
// main context.
class MainThread {
 public:
  virtual ~MainThread() = default;
  // Queues work to run on the main thread; safe from any thread. Work posted
  // from one thread runs in the order it was posted.
  virtual void post(std::function<void()> work) = 0;
  virtual bool isMainThread() const = 0;
};

}  // namespace quillon
