#include "pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace quillon::test {

PtyDevice::PtyDevice() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  path_ = ptsname(master_);
  keeper_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (keeper_ < 0) throw std::runtime_error("cannot open " + path_);
}

PtyDevice::~PtyDevice() {
  if (responder_.joinable()) responder_.join();
  hangUp();
  if (keeper_ >= 0) close(keeper_);
}

std::vector<uint8_t> PtyDevice::receive(size_t count, std::chrono::milliseconds deadline) {
  std::vector<uint8_t> received;
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (received.size() < count && std::chrono::steady_clock::now() < end) {
    pollfd waiter{master_, POLLIN, 0};
    if (poll(&waiter, 1, 20) <= 0 || !(waiter.revents & POLLIN)) continue;
    uint8_t buffer[512];
    const ssize_t got = read(master_, buffer, sizeof buffer);
    if (got > 0) received.insert(received.end(), buffer, buffer + got);
  }
  return received;
}

void PtyDevice::send(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(master_, bytes.data() + done, bytes.size() - done);
    if (wrote <= 0) return;
    done += static_cast<size_t>(wrote);
  }
}

void PtyDevice::answer(size_t commandLength, std::vector<Burst> bursts) {
  responder_ = std::thread([this, commandLength, bursts = std::move(bursts)] {
    command_ = receive(commandLength);
    for (const auto& burst : bursts) {
      std::this_thread::sleep_for(burst.delay);
      send(burst.bytes);
    }
  });
}

std::vector<uint8_t> PtyDevice::command() {
  if (responder_.joinable()) responder_.join();
  return command_;
}

void PtyDevice::hangUp() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

}  // namespace quillon::test
