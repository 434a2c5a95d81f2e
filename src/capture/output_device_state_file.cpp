#include "capture/output_device_state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "logging/logger.h"

namespace quillon {
namespace {
constexpr const char* kTag = "speaker_capture";
constexpr const char* kFileName = "speaker-output-device";
// Never deleted: removing a lock file while another process opens it would
// let two processes lock two different files.
constexpr const char* kLockFileName = "speaker-output-device.lock";
}  // namespace

std::string OutputDeviceStateFile::defaultFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state == '/') return std::string(state) + "/quillon-host";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/state/quillon-host";
}

OutputDeviceStateFile::OutputDeviceStateFile(std::string folder)
    : folder_(folder.empty() ? defaultFolder() : std::move(folder)), path_(folder_ + "/" + kFileName) {}

bool OutputDeviceStateFile::write(const Entry& entry) {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  const std::string temporary = path_ + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << entry.deviceName << '\n' << entry.volume << '\n';
    out.flush();
    if (!out) {
      Logger::shared().warning(kTag, "Could not write %s", temporary.c_str());
      return false;
    }
  }
  std::filesystem::rename(temporary, path_, error);
  if (error) {
    Logger::shared().warning(kTag, "Could not write %s: %s", path_.c_str(), error.message().c_str());
    return false;
  }
  return true;
}

std::optional<OutputDeviceStateFile::Entry> OutputDeviceStateFile::read() const {
  std::ifstream in(path_);
  Entry entry;
  if (!in || !std::getline(in, entry.deviceName) || entry.deviceName.empty()) return std::nullopt;
  if (!(in >> entry.volume)) entry.volume = -1.0f;
  return entry;
}

void OutputDeviceStateFile::remove() {
  std::error_code error;
  std::filesystem::remove(path_, error);
}

std::string OutputDeviceStateFile::lockPath() const { return folder_ + "/" + kLockFileName; }

OutputDeviceStateFile::OutputHold::~OutputHold() { ::close(fd_); }

std::unique_ptr<OutputDeviceStateFile::OutputHold> OutputDeviceStateFile::holdOutput() {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  const int fd = ::open(lockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || ::flock(fd, LOCK_SH) != 0) {
    Logger::shared().warning(kTag, "Could not lock %s: %s", lockPath().c_str(), std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  return std::make_unique<OutputHold>(fd);
}

bool OutputDeviceStateFile::outputHeld() const {
  const int fd = ::open(lockPath().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;  // no capture ever switched the output here
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace quillon
