#pragma once

#include <memory>
#include <string>

#include "app/main_flutter_window.h"
#include "app/output_repair_retry.h"
#include "app/plugin_registry.h"
#include "engine/engine_link.h"

namespace quillon {

// The command line of quillon-host.
struct HostOptions {
  std::string engineSocket;  // empty: the default path
  bool headless = false;
  // Folders read as /sys and /dev for serial ports (tests); both empty: the system's.
  std::string serialSysRoot;
  std::string serialDevRoot;
  std::string loopbackRoot;
};

// What the shell around the host lends it; all of it outlives the host.
struct HostShell {
  MainThread& mainThread;
  ActivityInhibitor& activityInhibitor;
  ApplicationControl& application;
};

// The host's start-up, the same with or without a window: the sound-server
// connection (with the output mended and its repair retried), the engine link,
// the main window with its four channels and their services, the plug-ins,
// and SIGINT and SIGTERM taking the application's orderly way out, as
// "eventByExit" does. The headless and the windowed host differ only in the
// shell they lend it and what they show around it. Main thread only.
class HostStartup {
 public:
  // Null when the link cannot listen (said on standard error).
  static std::unique_ptr<HostStartup> start(const HostOptions& options, const HostShell& shell);
  // The window goes first (channels and services), then the link; the day
  // log is flushed last.
  ~HostStartup();
  HostStartup(const HostStartup&) = delete;
  HostStartup& operator=(const HostStartup&) = delete;

  EngineLink& link() { return *link_; }
  const MainFlutterWindow& window() const { return *window_; }
  const std::shared_ptr<SerialPortRegistry>& serialPorts() const { return serialPorts_; }

 private:
  HostStartup(std::unique_ptr<EngineLink> link, std::shared_ptr<SerialPortRegistry> serialPorts,
              std::shared_ptr<AudioServer> audioServer);

  std::shared_ptr<SerialPortRegistry> serialPorts_;
  std::shared_ptr<AudioServer> audioServer_;
  OutputRepairRetry outputRepair_;
  std::unique_ptr<EngineLink> link_;
  EmptyPluginRegistry plugins_;
  std::unique_ptr<MainFlutterWindow> window_;
  unsigned signalSources_[2] = {0, 0};
};

}  // namespace quillon
