#pragma once

#include <optional>
#include <string>

namespace quillon {

// Remembers the user's output device while the system output is switched to
// the loopback device, so that a process that died mid-recording can be
// mended later: written when the capture switches, removed once the output
// is back. One small text file: the device's name, then its volume.
class OutputDeviceStateFile {
 public:
  struct Entry {
    std::string deviceName;
    float volume = -1.0f;  // the user's volume before the switch; < 0 unknown
  };

  // `folder` empty: $XDG_STATE_HOME/quillon-host, else ~/.local/state/quillon-host.
  explicit OutputDeviceStateFile(std::string folder = {});

  static std::string defaultFolder();
  const std::string& path() const { return path_; }

  // Written whole through a temporary file, so a crash never leaves half of it.
  bool write(const Entry& entry);
  std::optional<Entry> read() const;
  void remove();

 private:
  std::string folder_;
  std::string path_;
};

}  // namespace quillon
