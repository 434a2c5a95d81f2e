#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port_registry.h"

namespace quillon {

// Reports serial ports coming and going. Each start runs one watcher thread
// that first reports every present port as added, then each change; the
// callback runs on that thread.
class UsbWatcher {
 public:
  using Callback = std::function<void(const std::string& path, bool added)>;

  explicit UsbWatcher(std::shared_ptr<SerialPortRegistry> registry);
  ~UsbWatcher();
  UsbWatcher(const UsbWatcher&) = delete;
  UsbWatcher& operator=(const UsbWatcher&) = delete;

  // Returns at once. A start while already watching changes nothing.
  void startWatching();
  // Returns once the watcher thread has finished its current event and ended.
  // Called from inside the callback it only asks the thread to end, since a
  // thread cannot wait for itself; the thread is joined by the next start or
  // stop from another thread, or by the destructor.
  void stopWatching();

  void setCallback(Callback callback);

 private:
  struct Run;
  struct CallbackSlot;
  static void runLoop(const std::shared_ptr<Run>& run);
  // Joins every ended thread except the calling one.
  void joinEnded(std::unique_lock<std::mutex>& lock);

  std::shared_ptr<SerialPortRegistry> registry_;
  // Shared with the threads, so that a thread outliving this object (destroyed
  // from inside its own callback) still has what it reads.
  std::shared_ptr<CallbackSlot> callback_;
  mutable std::mutex mutex_;
  std::shared_ptr<Run> current_;
  std::thread thread_;
  std::vector<std::thread> ended_;
};

}  // namespace quillon
