#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillon::test {

// Plays the recorder on the far side of a pseudo-terminal: the host opens
// path(), answer() reads and writes the master side.
class PtyDevice {
 public:
  // Bytes sent a delay after the previous burst (or the command).
  using Burst = std::pair<std::chrono::milliseconds, std::vector<uint8_t>>;

  PtyDevice() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("no pty");
    path_ = ptsname(master_);
    // Held open so the tty never sees its last user leave between the host's
    // opens and closes (the master would then report a hang-up).
    keeper_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keeper_ < 0) throw std::runtime_error("cannot open " + path_);
  }
  ~PtyDevice() {
    command();
    close(master_);
    close(keeper_);
  }

  const std::string& path() const { return path_; }

  // On a thread of its own: waits for a command of commandLength bytes (ten
  // seconds at most between its parts), then sends the bursts. command() joins it and gives
  // what was received.
  void answer(size_t commandLength, std::vector<Burst> bursts) {
    command_.clear();
    responder_ = std::thread([this, commandLength, bursts = std::move(bursts)] {
      while (command_.size() < commandLength) {
        pollfd waiter{master_, POLLIN, 0};
        uint8_t buffer[512];
        const ssize_t got = poll(&waiter, 1, 10'000) > 0 ? read(master_, buffer, sizeof buffer) : -1;
        if (got <= 0) break;
        command_.insert(command_.end(), buffer, buffer + got);
      }
      for (const auto& [delay, bytes] : bursts) {
        std::this_thread::sleep_for(delay);
        if (write(master_, bytes.data(), bytes.size()) != ssize_t(bytes.size())) return;
      }
    });
  }
  std::vector<uint8_t> command() {
    if (responder_.joinable()) responder_.join();
    return command_;
  }

 private:
  int master_ = -1;
  int keeper_ = -1;
  std::string path_;
  std::thread responder_;
  std::vector<uint8_t> command_;
};

}  // namespace quillon::test
