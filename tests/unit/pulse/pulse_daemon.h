#pragma once

// Shared by the pulse and captures suites: a private server and what the
// tests hear through it.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/pulse/pulse_audio_hardware.h"
#include "recording/samples.h"
#include "support/test_support.h"

extern char** environ;

namespace quillon::test {

using namespace std::chrono_literals;

inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// A private PulseAudio server for one test: its own runtime folder and socket,
// null sinks "Speakers" (the default) and, unless left out, "VerdalisRecorder",
// and optionally a pipe-fed microphone "VirtualMic". Stopped with the object.
class PulseDaemon {
 public:
  struct Options {
    bool loopbackSink = true;
    bool microphone = true;
  };
  PulseDaemon() : PulseDaemon(Options{}) {}
  explicit PulseDaemon(Options options) : options_(std::move(options)) {}
  ~PulseDaemon() { stop(); }
  PulseDaemon(const PulseDaemon&) = delete;
  PulseDaemon& operator=(const PulseDaemon&) = delete;

  pid_t pid() const { return pid_; }
  std::string server() const { return "unix:" + socket(); }
  std::string micFifo() const { return dir_.str() + "/mic.fifo"; }
  std::string log() const { return readFile(dir_.path() / "daemon.log"); }
  // A hardware object on a fresh connection to this server.
  std::shared_ptr<PulseAudioHardware> connect() const {
    return std::make_shared<PulseAudioHardware>(PulseContext::create(server(), std::chrono::seconds(10)));
  }

  // Starts and waits until the server accepts clients; false with the
  // server's output in log() when it did not come up.
  bool start() {
    writeScript();
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      bool ours = false;
      for (const char* prefix : {"HOME=", "PULSE_", "XDG_RUNTIME_DIR=", "DBUS_"}) ours |= entry.rfind(prefix, 0) == 0;
      if (!ours) env.push_back(entry);
    }
    env.push_back("HOME=" + dir_.str());
    env.push_back("XDG_RUNTIME_DIR=" + dir_.str() + "/runtime");
    env.push_back("PULSE_RUNTIME_PATH=" + dir_.str() + "/runtime");
    env.push_back("PULSE_STATE_PATH=" + dir_.str() + "/state");
    std::vector<std::string> args{"/usr/bin/pulseaudio", "-n", "-F", dir_.str() + "/server.pa",
                                  "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                                  "--system=false", "--use-pid-file=false", "--log-target=stderr"};
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string logPath = dir_.str() + "/daemon.log";
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return pid_ = -1, false;
    bool exited = false;
    const bool up = waitFor([&] { return acceptsConnections() || (exited = waitpid(pid_, nullptr, WNOHANG) == pid_); });
    if (exited) pid_ = -1;
    if (up && !exited) return true;
    stop();
    return false;
  }
  // Waits (generously) for the server process to end on its own.
  bool waitForExit() {
    if (pid_ > 0 && !waitFor([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; })) return false;
    pid_ = -1;
    return true;
  }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!waitForExit()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  std::string socket() const { return dir_.str() + "/native"; }
  void writeScript() {
    std::filesystem::create_directories(dir_.path() / "runtime");
    std::filesystem::create_directories(dir_.path() / "state");
    std::filesystem::remove(socket());
    std::ofstream script(dir_.path() / "server.pa");
    script << "load-module module-null-sink sink_name=Speakers sink_properties=device.description=Speakers\n";
    if (options_.loopbackSink) {
      script << "load-module module-null-sink sink_name=VerdalisRecorder rate=44100 channels=2 "
                "sink_properties=device.description=VerdalisRecorder\n";
    }
    if (options_.microphone) {
      script << "load-module module-pipe-source source_name=VirtualMic file=" << micFifo()
             << " format=s16le rate=48000 channels=1\n";
    }
    script << "set-default-sink Speakers\n";
    if (options_.microphone) script << "set-default-source VirtualMic\n";
    // Last, so a client that can connect finds every device in place.
    script << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket() << "\n";
  }
  bool acceptsConnections() const {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket().c_str(), sizeof(address.sun_path) - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return ok;
  }

  Options options_;
  TempDir dir_;
  pid_t pid_ = -1;
};

// The identifier of the device with that name, or kNoAudioDevice.
inline AudioDeviceId idOf(AudioHardware& hardware, const std::string& name) {
  std::vector<AudioDeviceId> ids;
  hardware.devices(ids);
  for (AudioDeviceId id : ids) {
    std::string n;
    if (hardware.deviceName(id, n) == AudioStatus::ok && n == name) return id;
  }
  return kNoAudioDevice;
}

// Keeps every float sample a capture delivers.
class SampleCollector {
 public:
  SampleCallback callback() {
    return [this](std::span<const float> block) {
      std::lock_guard lock(mutex_);
      samples_.insert(samples_.end(), block.begin(), block.end());
    };
  }
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

// Frequency from the median spacing of upward zero crossings over
// [from, from + count): a gap from a late scheduler does not move it.
inline double toneFrequency(const std::vector<float>& s, size_t from, size_t count, double rate) {
  std::vector<double> crossings, spacing;
  for (size_t i = from + 1; i < from + count && i < s.size(); ++i) {
    if (s[i - 1] < 0.0f && s[i] >= 0.0f) crossings.push_back(i - 1 + s[i - 1] / (s[i - 1] - s[i]));
  }
  for (size_t i = 1; i < crossings.size(); ++i) spacing.push_back(crossings[i] - crossings[i - 1]);
  if (spacing.size() < 3) return 0.0;
  std::nth_element(spacing.begin(), spacing.begin() + spacing.size() / 2, spacing.end());
  return rate / spacing[spacing.size() / 2];
}

inline float peakOf(const std::vector<float>& s, size_t from, size_t count) {
  float peak = 0.0f;
  for (size_t i = from; i < from + count && i < s.size(); ++i) peak = std::max(peak, std::fabs(s[i]));
  return peak;
}

// Writes a sine tone into the daemon's pipe-fed microphone (s16le mono
// 48 kHz) at real-time pace until stopped.
class MicFeeder {
 public:
  MicFeeder(const PulseDaemon& daemon, double frequency, double amplitude) {
    thread_ = std::thread([this, fifo = daemon.micFifo(), frequency, amplitude] {
      const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0) return;
      std::vector<int16_t> chunk(960);  // 20 ms
      uint64_t frame = 0;
      const auto start = std::chrono::steady_clock::now();
      for (int i = 0; running_; ++i) {
        for (auto& v : chunk) v = static_cast<int16_t>(32767.0 * amplitude * std::sin(2 * M_PI * frequency * frame++ / 48000));
        if (::write(fd, chunk.data(), sizeof(int16_t) * chunk.size()) < 0) break;
        std::this_thread::sleep_until(start + std::chrono::milliseconds(20 * (i + 1)));
      }
      ::close(fd);
    });
  }
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

inline WavHeader readWavHeader(const std::string& path) {
  WavHeader h;
  std::ifstream in(path, std::ios::binary);
  uint8_t b[44] = {};
  if (!in.read(reinterpret_cast<char*>(b), 44)) return h;
  std::memcpy(&h.channels, b + 22, 2);
  std::memcpy(&h.rate, b + 24, 4);
  std::memcpy(&h.bits, b + 34, 2);
  std::memcpy(&h.dataLength, b + 40, 4);
  return h;
}

}  // namespace quillon::test
