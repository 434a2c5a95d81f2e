#pragma once

#include <memory>
#include <string>

#include "platform/audio_server.h"

namespace quillon {

// The loopback device "VerdalisRecorder": installing its drop-in, finding it,
// and making it the system output.
class BlackHoleUtil {
 public:
  // Makes the device exist: installs from `sourcePath` (a file named
  // VerdalisRecorder.pa) where the answering server reads drop-ins and loads
  // it at once; see LoopbackDriverInstaller for the statuses.
  static int checkAndInstallDriver(std::shared_ptr<AudioServer> server, const std::string& sourcePath);
  // Loads an installed drop-in's device through the host's connection when
  // the server does not list it (it restarted); no prompt.
  static bool loadInstalledDriver(std::shared_ptr<AudioServer> server);
  // A device named "VerdalisRecorder" exists (the file on disk is not looked at).
  static bool isBlackHoleInstalled(AudioServer& server);
  static bool isCurrentOutputDeviceBlackHole(AudioServer& server);
  static bool setOutputDeviceToBlackHole(AudioServer& server);
};

}  // namespace quillon
