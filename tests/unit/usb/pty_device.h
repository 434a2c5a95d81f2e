#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace quillon::test {

// Plays the recorder on the far side of a pseudo-terminal: the host opens
// path(), the test reads and writes the master side.
class PtyDevice {
 public:
  struct Burst {
    std::chrono::milliseconds delay;  // after the previous burst (or the command)
    std::vector<uint8_t> bytes;
  };

  PtyDevice();
  ~PtyDevice();
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  const std::string& path() const { return path_; }
  // Collects what the host wrote until count bytes came or the deadline passed.
  std::vector<uint8_t> receive(size_t count,
                               std::chrono::milliseconds deadline = std::chrono::seconds(10));
  void send(const std::vector<uint8_t>& bytes);
  // On a thread of its own: waits for a command of commandLength bytes, then
  // sends the bursts. command() joins it and gives what was received.
  void answer(size_t commandLength, std::vector<Burst> bursts);
  std::vector<uint8_t> command();
  // The device goes away: the master side is closed.
  void hangUp();

 private:
  int master_ = -1;
  // Held open so the tty never sees its last user leave between the host's
  // opens and closes (the master would then report a hang-up).
  int keeper_ = -1;
  std::string path_;
  std::thread responder_;
  std::vector<uint8_t> command_;
};

}  // namespace quillon::test
