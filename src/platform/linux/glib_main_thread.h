#pragma once

#include <glib.h>

#include <thread>

#include "platform/main_thread.h"

namespace quillon {

// Posts to a GLib main context (the default one unless given); the thread
// that owns that context when the object is created counts as the main thread.
class GlibMainThread final : public MainThread {
 public:
  explicit GlibMainThread(GMainContext* context = nullptr);
  ~GlibMainThread() override;
  void post(std::function<void()> work) override;
  bool isMainThread() const override;
  GMainContext* context() const { return context_; }

 private:
  GMainContext* context_;
  std::thread::id mainThreadId_;
};

}  // namespace quillon
