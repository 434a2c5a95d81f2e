#pragma once

#include <glib.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "engine/engine_link.h"
#include "support/test_support.h"

namespace quillon::test {

inline bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
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

  // Runs `task` on the loop thread, which meanwhile watches nothing: what the
  // task sets off reaches the link in one wake-up.
  void runOnLoop(const std::function<void()>& task) {
    std::packaged_task<void()> run(task);
    auto done = run.get_future();
    auto invoke = [](gpointer data) {
      (*static_cast<std::packaged_task<void()>*>(data))();
      return G_SOURCE_REMOVE;
    };
    g_main_context_invoke(context_, invoke, &run);
    done.wait();
  }

 private:
  TempDir dir_;
  std::string path_;
  GMainContext* context_;
  GMainLoop* loop_;
  std::unique_ptr<EngineLink> link_;
  std::thread thread_;
};

}  // namespace quillon::test
