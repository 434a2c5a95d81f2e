#include "app/host_startup.h"

#include <glib-unix.h>

#include <csignal>
#include <cstdio>

#include "app/recording_wiring.h"
#include "engine/method_channel.h"
#include "logging/logger.h"
#include "platform/linux/sysfs_serial_port_registry.h"

namespace quillon {

namespace {

// The system's ports, or those of a tree laid out elsewhere (tests).
std::shared_ptr<SerialPortRegistry> serialPortsOf(const HostOptions& options) {
  if (options.serialSysRoot.empty() && options.serialDevRoot.empty()) return makeSystemSerialPortRegistry();
  return std::make_shared<SysfsSerialPortRegistry>(options.serialSysRoot.empty() ? "/sys" : options.serialSysRoot,
                                                   options.serialDevRoot.empty() ? "/dev" : options.serialDevRoot);
}

gboolean quitOnSignal(gpointer application) {
  static_cast<ApplicationControl*>(application)->terminate();
  return G_SOURCE_CONTINUE;
}

}  // namespace

HostStartup::HostStartup(std::unique_ptr<EngineLink> link, std::shared_ptr<SerialPortRegistry> serialPorts,
                         std::shared_ptr<AudioServer> audioServer)
    : serialPorts_(std::move(serialPorts)),
      audioServer_(std::move(audioServer)),
      outputRepair_(audioServer_),
      link_(std::move(link)) {}

std::unique_ptr<HostStartup> HostStartup::start(const HostOptions& options, const HostShell& shell) {
  const std::string socketPath = options.engineSocket.empty() ? EngineLink::defaultSocketPath() : options.engineSocket;
  auto link = std::make_unique<EngineLink>(socketPath);
  // Calls on channels the host does not serve are read all the same, so one
  // that does not decode is answered as bad input.
  link->setUnservedChannelHandler(MethodChannel::unservedChannelHandler());
  if (!link->start()) {
    std::fprintf(stderr, "quillon-host: cannot listen on %s\n", socketPath.c_str());
    return nullptr;
  }
  std::unique_ptr<HostStartup> host(
      new HostStartup(std::move(link), serialPortsOf(options), connectRecordingAudio()));
  MainThread& mainThread = shell.mainThread;
  const auto& audioServer = host->audioServer_;
  host->window_ = std::make_unique<MainFlutterWindow>(MainFlutterWindow::Environment{
      *host->link_, mainThread, shell.activityInhibitor, shell.application, host->serialPorts_,
      [&mainThread, audioServer](const std::string& blackHolePath, bool reserveStageAudio) {
        return makeNativeAudioFactory(blackHolePath, reserveStageAudio, audioServer, mainThread);
      },
      audioServer});
  host->window_->awakeFromNib(host->plugins_);
  host->signalSources_[0] = g_unix_signal_add(SIGINT, quitOnSignal, &shell.application);
  host->signalSources_[1] = g_unix_signal_add(SIGTERM, quitOnSignal, &shell.application);
  std::fprintf(stderr, "quillon-host: engine link listening on %s\n", socketPath.c_str());
  return host;
}

HostStartup::~HostStartup() {
  for (unsigned source : signalSources_) {
    if (source != 0) g_source_remove(source);
  }
  window_.reset();
  link_.reset();
  Logger::shared().flush();
}

}  // namespace quillon
