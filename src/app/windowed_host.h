#pragma once

#include <memory>
#include <string>

#include "platform/audio_server.h"
#include "platform/serial_port_registry.h"

namespace quillon {

// quillon-host with its window: a single-instance GTK application. A launch
// while one runs hands over to it (its window comes back) and returns 0.
// Returns the process exit code; 2 when there is no display to open.
struct WindowedOptions {
  std::string engineSocket;  // empty: the default path
  std::shared_ptr<SerialPortRegistry> serialPorts;
  std::shared_ptr<AudioServer> audioServer;
};
int runWindowed(const WindowedOptions& options, const char* programName);

}  // namespace quillon
