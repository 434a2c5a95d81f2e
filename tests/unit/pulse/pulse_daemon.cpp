#include "pulse_daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace quillon::test {
namespace {

using namespace std::chrono_literals;

bool acceptsConnections(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return ok;
}

}  // namespace

PulseDaemon::PulseDaemon(Options options) : options_(std::move(options)) {
  socket_ = dir_.str() + "/native";
}

PulseDaemon::~PulseDaemon() { stop(); }

std::string PulseDaemon::log() const { return readFile(dir_.path() / "daemon.log"); }

bool PulseDaemon::start() {
  namespace fs = std::filesystem;
  fs::create_directories(dir_.path() / "runtime");
  fs::create_directories(dir_.path() / "state");
  fs::remove(socket_);
  {
    std::ofstream script(dir_.path() / "server.pa");
    script << "load-module module-null-sink sink_name=Speakers "
              "sink_properties=device.description=Speakers\n";
    if (options_.loopbackSink) {
      script << "load-module module-null-sink sink_name=VerdalisRecorder rate=44100 channels=2 "
                "sink_properties=device.description=VerdalisRecorder\n";
    }
    if (options_.microphone) {
      script << "load-module module-pipe-source source_name=VirtualMic file=" << dir_.str()
             << "/mic.fifo format=s16le rate=48000 channels=1\n";
    }
    if (!options_.includeFolder.empty()) {
      script << ".ifexists " << options_.includeFolder << "\n.include " << options_.includeFolder
             << "\n.endif\n";
    }
    script << "set-default-sink Speakers\n";
    if (options_.microphone) script << "set-default-source VirtualMic\n";
    // Last, so a client that can connect finds every device in place.
    script << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket_ << "\n";
  }
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    if (entry.rfind("HOME=", 0) == 0 || entry.rfind("PULSE_", 0) == 0 ||
        entry.rfind("XDG_RUNTIME_DIR=", 0) == 0 || entry.rfind("DBUS_", 0) == 0) {
      continue;
    }
    env.push_back(entry);
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
  int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    pid_ = -1;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (acceptsConnections(socket_)) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(20ms);
  }
  stop();
  return false;
}

bool PulseDaemon::waitForExit() {
  if (pid_ <= 0) return true;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return true;
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
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

}  // namespace quillon::test
