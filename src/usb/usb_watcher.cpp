#include "usb/usb_watcher.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <set>

#include "logging/logger.h"

namespace quillon {

namespace {
constexpr const char* kTag = "UsbFactory";
// Upper bound of one wait, so a lost interrupt can delay a stop by at most this.
constexpr std::chrono::milliseconds kPass{1000};
}  // namespace

struct UsbWatcher::CallbackSlot {
  mutable std::mutex mutex;
  Callback callback;

  Callback get() const {
    std::lock_guard lock(mutex);
    return callback;
  }
};

// The state of one start; the thread holds it for as long as it runs and uses
// nothing else.
struct UsbWatcher::Run {
  std::atomic<bool> stopped{false};
  std::shared_ptr<SerialPortRegistry> registry;
  std::shared_ptr<CallbackSlot> callback;
  std::unique_ptr<SerialPortWatch> watch;
  // Used only when no watch could be set up: the thread then just waits for the stop.
  std::mutex idleMutex;
  std::condition_variable idle;
};

UsbWatcher::UsbWatcher(std::shared_ptr<SerialPortRegistry> registry)
    : registry_(std::move(registry)), callback_(std::make_shared<CallbackSlot>()) {}

UsbWatcher::~UsbWatcher() {
  stopWatching();
  std::unique_lock lock(mutex_);
  joinEnded(lock);
  // Destroyed from its own callback: the thread cannot join itself; it holds
  // its Run and touches nothing of this object once it sees the stop.
  for (auto& thread : ended_) thread.detach();
}

void UsbWatcher::setCallback(Callback callback) {
  std::lock_guard lock(callback_->mutex);
  callback_->callback = std::move(callback);
}

void UsbWatcher::startWatching() {
  std::unique_lock lock(mutex_);
  if (current_) return;
  joinEnded(lock);
  if (current_) return;  // another thread started while the lock was released

  auto run = std::make_shared<Run>();
  run->registry = registry_;
  run->callback = callback_;
  run->watch = registry_->watchChanges();
  current_ = run;
  thread_ = std::thread([run] { runLoop(run); });
}

void UsbWatcher::stopWatching() {
  std::unique_lock lock(mutex_);
  if (!current_) {
    joinEnded(lock);
    return;
  }
  std::shared_ptr<Run> run = std::move(current_);
  run->stopped = true;
  if (run->watch) run->watch->interrupt();
  {
    std::lock_guard idleLock(run->idleMutex);
    run->idle.notify_all();
  }
  ended_.push_back(std::move(thread_));
  joinEnded(lock);
}

void UsbWatcher::joinEnded(std::unique_lock<std::mutex>& lock) {
  std::vector<std::thread> joinable;
  std::vector<std::thread> keep;
  for (auto& thread : ended_) {
    (thread.get_id() == std::this_thread::get_id() ? keep : joinable).push_back(std::move(thread));
  }
  ended_ = std::move(keep);
  if (joinable.empty()) return;
  // The threads may be delivering an event whose callback takes this lock.
  lock.unlock();
  for (auto& thread : joinable) {
    if (thread.joinable()) thread.join();
  }
  lock.lock();
}

void UsbWatcher::runLoop(const std::shared_ptr<Run>& run) {
  const auto report = [&run](const std::string& path, bool added) {
    if (run->stopped) return;
    Logger::shared().info(kTag, added ? "USB 设备已插入，路径: %s" : "USB 设备已移除，路径: %s",
                          path.c_str());
    if (const Callback callback = run->callback->get()) callback(path, added);
  };
  // The thread's own set keeps a port from being reported twice as added, and
  // a removal from being reported for a port never reported.
  std::set<std::string> present;
  for (const auto& path : run->registry->presentPorts()) {
    if (present.insert(path).second) report(path, true);
  }
  while (!run->stopped) {
    if (!run->watch) {
      std::unique_lock idleLock(run->idleMutex);
      run->idle.wait_for(idleLock, kPass, [&] { return run->stopped.load(); });
      continue;
    }
    for (const auto& change : run->watch->waitForChanges(kPass)) {
      const bool fresh = change.added ? present.insert(change.path).second
                                      : present.erase(change.path) > 0;
      if (fresh) report(change.path, change.added);
    }
  }
}

}  // namespace quillon
