#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/privileged_runner.h"

namespace quillon {

// Where the loopback device's drop-in goes and how the audio server is made
// to read it. Tests point every path at a temporary folder.
struct LoopbackInstallLayout {
  std::string installedBundle = "/etc/pulse/default.pa.d/VerdalisRecorder.pa";
  std::string pluginFolder = "/etc/pulse/default.pa.d";
  // The server restarts on its next client and reads the drop-in.
  std::vector<std::string> restartCommand = {"/usr/bin/pkill", "-9", "-x", "pulseaudio"};
  std::string restartTarget = "pulseaudio";  // what the log line names
  std::string copyTarget() const { return pluginFolder + "/"; }
};

// Installs the drop-in with administrator rights. Each command is waited for
// and its exit status used, so a failed copy is reported and the server is
// restarted only after the copy is complete.
class LoopbackDriverInstaller {
 public:
  static constexpr const char* kPromptText = "\"Quillon\" 想要安装声卡驱动";

  LoopbackDriverInstaller(LoopbackInstallLayout layout, std::shared_ptr<PrivilegedRunner> runner);
  // 0 installed or already present, -1 source missing, otherwise the failing
  // authorization or command status.
  int checkAndInstallDriver(const std::string& sourcePath);

 private:
  int authorize();

  LoopbackInstallLayout layout_;
  std::shared_ptr<PrivilegedRunner> runner_;
};

}  // namespace quillon
