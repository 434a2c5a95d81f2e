#include "pulse_daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace quillon::test {
namespace {

bool acceptsConnections(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return ok;
}

}  // namespace

bool PulseDaemon::start() {
  namespace fs = std::filesystem;
  fs::create_directories(dir_.path() / "runtime");
  fs::create_directories(dir_.path() / "state");
  fs::remove(socket());
  {
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
    if (!options_.includeFolder.empty()) {
      script << ".ifexists " << options_.includeFolder << "\n.include " << options_.includeFolder << "\n.endif\n";
    }
    script << "set-default-sink Speakers\n";
    if (options_.microphone) script << "set-default-source VirtualMic\n";
    // Last, so a client that can connect finds every device in place.
    script << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket() << "\n";
  }
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
  if (error != 0) {
    pid_ = -1;
    return false;
  }
  bool exited = false;
  const bool up = waitFor([&] { return acceptsConnections(socket()) || (exited = waitpid(pid_, nullptr, WNOHANG) == pid_); });
  if (exited) pid_ = -1;
  if (up && !exited) return true;
  stop();
  return false;
}

bool PulseDaemon::waitForExit() {
  if (pid_ > 0 && !waitFor([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; })) return false;
  pid_ = -1;
  return true;
}

void PulseDaemon::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (!waitForExit()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

std::shared_ptr<PulseAudioHardware> PulseDaemon::connect() const {
  return std::make_shared<PulseAudioHardware>(PulseContext::create(server(), std::chrono::seconds(10)));
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

AudioDeviceId idOf(AudioHardware& hardware, const std::string& name) {
  std::vector<AudioDeviceId> ids;
  hardware.devices(ids);
  for (AudioDeviceId id : ids) {
    std::string n;
    if (hardware.deviceName(id, n) == AudioStatus::ok && n == name) return id;
  }
  return kNoAudioDevice;
}

AudioCallback SampleCollector::callback() {
  return [this](const ByteBuffer& block) {
    std::lock_guard lock(mutex_);
    const size_t count = block.size() / sizeof(float), old = samples_.size();
    samples_.resize(old + count);
    if (count) std::memcpy(samples_.data() + old, block.data(), count * sizeof(float));
  };
}

MonitorRecorder::MonitorRecorder(AudioHardware& hardware, AudioDeviceId sink) {
  AudioStatus status;
  stream_ = hardware.openInputStream(
      sink, makeLinearPcmFormat(44100, 2, 16, false), 4096,
      [this](const uint8_t* data, size_t bytes) {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i + 3 < bytes; i += 4) {
          int16_t v;
          std::memcpy(&v, data + i, 2);
          left_.push_back(v / 32768.0f);
        }
      },
      status);
}

double toneFrequency(const std::vector<float>& s, size_t from, size_t count, double rate) {
  std::vector<double> crossings, spacing;
  for (size_t i = from + 1; i < from + count && i < s.size(); ++i) {
    if (s[i - 1] < 0.0f && s[i] >= 0.0f) crossings.push_back(i - 1 + s[i - 1] / (s[i - 1] - s[i]));
  }
  for (size_t i = 1; i < crossings.size(); ++i) spacing.push_back(crossings[i] - crossings[i - 1]);
  if (spacing.size() < 3) return 0.0;
  std::nth_element(spacing.begin(), spacing.begin() + spacing.size() / 2, spacing.end());
  return rate / spacing[spacing.size() / 2];
}

float peakOf(const std::vector<float>& s, size_t from, size_t count) {
  float peak = 0.0f;
  for (size_t i = from; i < from + count && i < s.size(); ++i) peak = std::max(peak, std::fabs(s[i]));
  return peak;
}

double heardFrequency(const std::function<std::vector<float>()>& read, size_t span, double rate) {
  std::vector<float> s;
  size_t start = 0;
  const size_t margin = static_cast<size_t>(rate / 10);
  const bool heard = waitFor([&] {
    s = read();
    start = std::find_if(s.begin(), s.end(), [](float v) { return std::fabs(v) > 0.005f; }) - s.begin();
    return start < s.size() && s.size() >= start + margin + span;
  });
  return heard ? toneFrequency(s, start + margin, span, rate) : 0.0;
}

MicFeeder::MicFeeder(const PulseDaemon& daemon, double frequency, double amplitude) {
  thread_ = std::thread([this, fifo = daemon.micFifo(), frequency, amplitude] {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    std::vector<int16_t> chunk(960);  // 20 ms at 48 kHz
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

WavHeader readWavHeader(const std::string& path) {
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
