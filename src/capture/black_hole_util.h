#pragma once

#include <string>

namespace quillon {

// The loopback device "VerdalisRecorder": installing its drop-in, finding it,
// and making it the system output.
class BlackHoleUtil {
 public:
  // Installs from `sourcePath` (a file named VerdalisRecorder.pa) into the
  // server's drop-in folder; see LoopbackDriverInstaller for the statuses.
  static int checkAndInstallDriver(const std::string& sourcePath);
  // A device named "VerdalisRecorder" exists (the file on disk is not looked at).
  static bool isBlackHoleInstalled();
  static bool isCurrentOutputDeviceBlackHole();
  static bool setOutputDeviceToBlackHole();
};

}  // namespace quillon
