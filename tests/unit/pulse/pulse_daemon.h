#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/pulse/pulse_audio_hardware.h"
#include "recording/byte_buffer.h"
#include "support/test_support.h"

// Shared by the pulse and captures suites: a private server and what the
// tests hear through it.
namespace quillon::test {

using namespace std::chrono_literals;

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
  explicit PulseDaemon(Options options) : options_(std::move(options)) {}
  ~PulseDaemon() { stop(); }
  PulseDaemon(const PulseDaemon&) = delete;
  PulseDaemon& operator=(const PulseDaemon&) = delete;

  // Starts and waits until the server accepts clients; false with the
  // server's output in log() when it did not come up.
  bool start();
  void stop();
  // Waits (generously) for the server process to end on its own.
  bool waitForExit();
  pid_t pid() const { return pid_; }
  std::string server() const { return "unix:" + socket(); }
  std::string micFifo() const { return dir_.str() + "/mic.fifo"; }
  std::string log() const { return readFile(dir_.path() / "daemon.log"); }
  // A hardware object on a fresh connection to this server.
  std::shared_ptr<PulseAudioHardware> connect() const;

 private:
  std::string socket() const { return dir_.str() + "/native"; }
  Options options_;
  TempDir dir_;
  pid_t pid_ = -1;
};

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s);

// The identifier of the device with that name, or kNoAudioDevice.
AudioDeviceId idOf(AudioHardware& hardware, const std::string& name);

// Keeps every float sample a capture delivers.
class SampleCollector {
 public:
  AudioCallback callback();
  std::vector<float> samples() {
    std::lock_guard lock(mutex_);
    return samples_;
  }
  size_t count() {
    std::lock_guard lock(mutex_);
    return samples_.size();
  }

 private:
  std::mutex mutex_;
  std::vector<float> samples_;
};

// Listens on a sink's monitor (16-bit stereo 44.1 kHz) and keeps the left channel.
class MonitorRecorder {
 public:
  MonitorRecorder(AudioHardware& hardware, AudioDeviceId sink);
  bool running() const { return stream_ != nullptr; }
  std::vector<float> left() {
    std::lock_guard lock(mutex_);
    return left_;
  }

 private:
  std::mutex mutex_;
  std::vector<float> left_;
  std::unique_ptr<AudioStream> stream_;
};

// Frequency from the median spacing of upward zero crossings over
// [from, from + count): a gap from a late scheduler does not move it.
double toneFrequency(const std::vector<float>& s, size_t from, size_t count, double rate);
float peakOf(const std::vector<float>& s, size_t from, size_t count);
// Waits until `read` holds `span` samples after its first clear sound (plus a
// tenth of a second to settle) and answers the tone's frequency there, or 0.
double heardFrequency(const std::function<std::vector<float>()>& read, size_t span, double rate);

// Writes a sine tone into the daemon's pipe-fed microphone (s16le mono
// 48 kHz) at real-time pace until stopped.
class MicFeeder {
 public:
  MicFeeder(const PulseDaemon& daemon, double frequency, double amplitude);
  ~MicFeeder() { stop(); }
  void stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> running_{true};
  std::thread thread_;
};

struct WavHeader {
  uint32_t rate = 0;
  uint16_t channels = 0, bits = 0;
  uint32_t dataLength = 0;
};
WavHeader readWavHeader(const std::string& path);

}  // namespace quillon::test
