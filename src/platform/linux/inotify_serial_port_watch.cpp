#include "platform/linux/inotify_serial_port_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "logging/logger.h"

namespace quillon {

namespace {
constexpr const char* kTag = "UsbFactory";
}

std::unique_ptr<InotifySerialPortWatch> InotifySerialPortWatch::create(SysfsSerialPorts ports,
                                                                       const std::string& devRoot) {
  const int inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotifyFd < 0) {
    Logger::shared().error(kTag, "inotify_init1 failed: %s", std::strerror(errno));
    return nullptr;
  }
  if (inotify_add_watch(inotifyFd, devRoot.c_str(),
                        IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) < 0) {
    Logger::shared().error(kTag, "inotify_add_watch %s failed: %s", devRoot.c_str(),
                           std::strerror(errno));
    close(inotifyFd);
    return nullptr;
  }
  const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd < 0) {
    Logger::shared().error(kTag, "eventfd failed: %s", std::strerror(errno));
    close(inotifyFd);
    return nullptr;
  }
  return std::unique_ptr<InotifySerialPortWatch>(
      new InotifySerialPortWatch(std::move(ports), inotifyFd, wakeFd));
}

InotifySerialPortWatch::InotifySerialPortWatch(SysfsSerialPorts ports, int inotifyFd, int wakeFd)
    : ports_(std::move(ports)), inotifyFd_(inotifyFd), wakeFd_(wakeFd) {
  // Seeded after the inotify watch exists, so no arrival falls in between.
  for (auto& name : ports_.portNames()) known_.insert(name);
}

InotifySerialPortWatch::~InotifySerialPortWatch() {
  close(inotifyFd_);
  close(wakeFd_);
}

void InotifySerialPortWatch::interrupt() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

std::vector<SerialPortChange> InotifySerialPortWatch::waitForChanges(
    std::chrono::milliseconds timeout) {
  std::vector<SerialPortChange> changes;
  pollfd fds[2] = {{inotifyFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  const int ready = poll(fds, 2, static_cast<int>(timeout.count()));
  if (ready <= 0) return changes;
  if (fds[1].revents & POLLIN) {
    uint64_t count;
    [[maybe_unused]] const ssize_t got = read(wakeFd_, &count, sizeof count);
    return changes;
  }
  if (fds[0].revents & POLLIN) readEvents(changes);
  return changes;
}

void InotifySerialPortWatch::readEvents(std::vector<SerialPortChange>& changes) {
  alignas(inotify_event) char buffer[16 * 1024];
  for (;;) {
    const ssize_t length = read(inotifyFd_, buffer, sizeof buffer);
    if (length <= 0) return;
    for (ssize_t offset = 0; offset < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        resynchronise(changes);
        continue;
      }
      if (event->len == 0) continue;
      const std::string name(event->name);
      if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
        if (!known_.contains(name) && ports_.isPort(name)) {
          known_.insert(name);
          changes.push_back({ports_.devicePath(name), true});
        } else if (std::error_code ec; !std::filesystem::exists(ports_.devicePath(name), ec)) {
          vanished_.insert(name);
        }
      } else if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
        // A port that came and went between two reads is still reported gone:
        // whoever listed it while it existed must hear of its removal.
        if (known_.erase(name) > 0 || vanished_.erase(name) > 0) {
          changes.push_back({ports_.devicePath(name), false});
        }
      }
    }
  }
}

void InotifySerialPortWatch::resynchronise(std::vector<SerialPortChange>& changes) {
  std::set<std::string> now;
  for (auto& name : ports_.portNames()) now.insert(name);
  for (const auto& name : known_) {
    if (!now.contains(name)) changes.push_back({ports_.devicePath(name), false});
  }
  for (const auto& name : now) {
    if (!known_.contains(name)) changes.push_back({ports_.devicePath(name), true});
  }
  known_ = std::move(now);
}

}  // namespace quillon
