#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/pulse/pulse_audio_hardware.h"
#include "support/test_support.h"

namespace quillon::test {

// A private PulseAudio server for one test: its own runtime folder and socket,
// null sinks "Speakers" (the default) and, unless left out, "VerdalisRecorder",
// and optionally a pipe-fed microphone "VirtualMic". Stopped with the object.
class PulseDaemon {
 public:
  struct Options {
    bool loopbackSink = true;
    bool microphone = true;
    std::string includeFolder;  // a drop-in folder the server reads at start
  };
  PulseDaemon() : PulseDaemon(Options{}) {}
  explicit PulseDaemon(Options options);
  ~PulseDaemon();
  PulseDaemon(const PulseDaemon&) = delete;
  PulseDaemon& operator=(const PulseDaemon&) = delete;

  // Starts and waits until the server accepts clients; false with the
  // server's output in log() when it did not come up.
  bool start();
  void stop();
  // Waits (generously) for the server process to end on its own.
  bool waitForExit();
  pid_t pid() const { return pid_; }
  std::string server() const { return "unix:" + socket_; }
  std::string log() const;
  // A hardware object on a fresh connection to this server.
  std::shared_ptr<PulseAudioHardware> connect() const;

 private:
  Options options_;
  TempDir dir_;
  std::string socket_;
  pid_t pid_ = -1;
};

}  // namespace quillon::test
