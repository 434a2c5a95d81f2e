#pragma once

#include <memory>
#include <string>

#include "capture/privileged_runner.h"
#include "platform/audio_server.h"

namespace quillon {

// Where the loopback device's drop-in goes on each sound server. Tests point
// every path at a temporary folder (underRoot); the host does the same when
// started with --loopback-root.
struct LoopbackInstallLayout {
  std::string pulseAudioBundle = "/etc/pulse/default.pa.d/VerdalisRecorder.pa";
  std::string pipeWireBundle = "/etc/pipewire/pipewire-pulse.conf.d/VerdalisRecorder.conf";
  // Makes the folder and copies in one command, so one prompt covers both.
  std::string installTool = "/usr/bin/install";

  static LoopbackInstallLayout underRoot(const std::string& root);
  // The layout the host uses: the system's, or the one set for this process.
  static LoopbackInstallLayout current();
  static void setCurrentRoot(const std::string& root);
};

// The module line of a drop-in: "module-null-sink" and its arguments.
struct LoopbackModule {
  std::string name;
  std::string arguments;
  // From a PulseAudio drop-in's load-module line or a PipeWire drop-in's
  // pulse.cmd entry; false when the file holds neither.
  static bool readFrom(const std::string& path, LoopbackModule& out);
  static LoopbackModule standard();
  // The PipeWire drop-in that runs this module line.
  std::string pipeWireDropIn() const;
};

// Makes the loopback device "VerdalisRecorder" exist on the answering sound
// server. The device is present when the server lists the sink; an installed
// drop-in is picked up by loading its module through the host's own
// connection, so the server is never restarted or killed. Installing copies
// the drop-in where that server reads it at its next start, under a single
// administrator prompt.
class LoopbackDriverInstaller {
 public:
  static constexpr const char* kPromptText = "\"Quillon\" 想要安装声卡驱动";

  LoopbackDriverInstaller(LoopbackInstallLayout layout, std::shared_ptr<PrivilegedRunner> runner,
                          std::shared_ptr<AudioServer> server);
  // 0 when the device is there afterwards; -1 source missing or unreadable;
  // otherwise the failing prompt or command status, or the server's refusal
  // of the module (100 + its status).
  int checkAndInstallDriver(const std::string& sourcePath);
  // The run-time load alone, when the drop-in is installed but the server
  // does not list the device (it restarted, or never read the drop-in). No
  // prompt. True when the device is there afterwards.
  bool loadInstalledDriver();

  static constexpr int kModuleRefusedBase = 100;

 private:
  bool devicePresent();
  bool answeringServerIsPipeWire();
  std::string bundleForServer();
  int loadModule(const LoopbackModule& module);

  LoopbackInstallLayout layout_;
  std::shared_ptr<PrivilegedRunner> runner_;
  std::shared_ptr<AudioServer> server_;
};

}  // namespace quillon
