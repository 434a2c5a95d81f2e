#pragma once

#include <memory>
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

  // Held by a process for as long as one of its captures has the output
  // switched (a shared lock on a file beside the state file, released by the
  // kernel when the process dies), so another process can tell a recording
  // that runs from one a crash left behind.
  class OutputHold {
   public:
    explicit OutputHold(int fd) : fd_(fd) {}
    ~OutputHold();
    OutputHold(const OutputHold&) = delete;
    OutputHold& operator=(const OutputHold&) = delete;

   private:
    int fd_;
  };
  // Null when the lock file cannot be opened (logged); the recording goes on.
  std::unique_ptr<OutputHold> holdOutput();
  // True while any hold exists, in this process or another.
  bool outputHeld() const;

 private:
  std::string lockPath() const;

  std::string folder_;
  std::string path_;
};

}  // namespace quillon
