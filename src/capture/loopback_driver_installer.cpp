#include "capture/loopback_driver_installer.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <system_error>
#include <vector>

#include "capture/audio_device_util.h"
#include "capture/audio_devices.h"
#include "logging/logger.h"

namespace quillon {
namespace {

constexpr const char* kTag = "blackHoleUtil";
// pkexec's statuses for a dismissed dialog and for a refused or failed
// authorization.
constexpr int kPromptDismissed = 126;
constexpr int kNotAuthorized = 127;

std::mutex rootMutex;
std::string currentRoot;

bool exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

std::string trimmed(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

bool splitModuleLine(const std::string& line, LoopbackModule& out) {
  const std::string text = trimmed(line);
  const auto space = text.find_first_of(" \t");
  out.name = text.substr(0, space);
  out.arguments = space == std::string::npos ? "" : trimmed(text.substr(space));
  return out.name.rfind("module-", 0) == 0;
}

// The PipeWire drop-in made from the source's module line, in a private
// temporary file the privileged copy reads.
std::string writeTemporaryDropIn(const LoopbackModule& module) {
  std::error_code error;
  const auto folder = std::filesystem::temp_directory_path(error) /
                      ("quillon-loopback-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder, error);
  const auto path = folder / "VerdalisRecorder.conf";
  std::ofstream out(path, std::ios::trunc);
  out << module.pipeWireDropIn();
  return out.good() ? path.string() : std::string();
}

}  // namespace

LoopbackInstallLayout LoopbackInstallLayout::underRoot(const std::string& root) {
  LoopbackInstallLayout layout;
  layout.pulseAudioBundle = root + layout.pulseAudioBundle;
  layout.pipeWireBundle = root + layout.pipeWireBundle;
  return layout;
}

LoopbackInstallLayout LoopbackInstallLayout::current() {
  std::lock_guard lock(rootMutex);
  return currentRoot.empty() ? LoopbackInstallLayout{} : underRoot(currentRoot);
}

void LoopbackInstallLayout::setCurrentRoot(const std::string& root) {
  std::lock_guard lock(rootMutex);
  currentRoot = root;
}

LoopbackModule LoopbackModule::standard() {
  return {"module-null-sink",
          "sink_name=VerdalisRecorder rate=44100 channels=2 sink_properties=device.description=VerdalisRecorder"};
}

bool LoopbackModule::readFrom(const std::string& path, LoopbackModule& out) {
  std::ifstream in(path);
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  const std::string content = text.str();
  std::istringstream lines(content);
  for (std::string line; std::getline(lines, line);) {
    const std::string t = trimmed(line);
    if (t.rfind("load-module", 0) == 0 && splitModuleLine(t.substr(11), out)) return true;
  }
  // PipeWire form: { cmd = "load-module" args = "module-... arguments" }
  static const std::regex entry(R"re(cmd\s*=\s*"load-module"\s*args\s*=\s*"([^"]*)")re");
  std::smatch match;
  return std::regex_search(content, match, entry) && splitModuleLine(match[1].str(), out);
}

std::string LoopbackModule::pipeWireDropIn() const {
  return "# Loopback output for quillon-host, read by PipeWire's pulse server.\n"
         "pulse.cmd = [\n    { cmd = \"load-module\" args = \"" +
         name + " " + arguments + "\" flags = [ \"nofail\" ] }\n]\n";
}

LoopbackDriverInstaller::LoopbackDriverInstaller(LoopbackInstallLayout layout, std::shared_ptr<PrivilegedRunner> runner,
                                                 std::shared_ptr<AudioServer> server)
    : layout_(std::move(layout)), runner_(std::move(runner)), server_(std::move(server)) {}

bool LoopbackDriverInstaller::devicePresent() {
  return server_ && findAudioDeviceNamed(*server_, AudioDeviceUtil::kLoopbackDeviceName).has_value();
}

bool LoopbackDriverInstaller::answeringServerIsPipeWire() {
  std::string name;
  if (server_) server_->serverName(name);
  return name.find("PipeWire") != std::string::npos;
}

std::string LoopbackDriverInstaller::bundleForServer() {
  return answeringServerIsPipeWire() ? layout_.pipeWireBundle : layout_.pulseAudioBundle;
}

int LoopbackDriverInstaller::loadModule(const LoopbackModule& module) {
  uint32_t index = 0;
  const AudioStatus status =
      server_ ? server_->loadModule(module.name, module.arguments, index) : AudioStatus::serverUnavailable;
  if (status != AudioStatus::ok || !devicePresent()) {
    Logger::shared().error(kTag, "The sound server refused to load %s (status: %d)", module.name.c_str(),
                           statusCode(status));
    return kModuleRefusedBase + statusCode(status);
  }
  Logger::shared().info(kTag, "Loaded %s (module %u): device %s is ready", module.name.c_str(), index,
                        AudioDeviceUtil::kLoopbackDeviceName);
  return 0;
}

bool LoopbackDriverInstaller::loadInstalledDriver() {
  if (devicePresent()) return true;
  const std::string bundle = bundleForServer();
  if (!exists(bundle)) return false;
  LoopbackModule module;
  if (!LoopbackModule::readFrom(bundle, module)) module = LoopbackModule::standard();
  Logger::shared().info(kTag, "Drop-in %s is installed but the server lists no %s; loading it", bundle.c_str(),
                        AudioDeviceUtil::kLoopbackDeviceName);
  return loadModule(module) == 0;
}

int LoopbackDriverInstaller::checkAndInstallDriver(const std::string& sourcePath) {
  Logger& log = Logger::shared();
  if (devicePresent()) {
    log.infoWithTag(kTag, "BlackHole is installed, skipping installation...");
    return 0;
  }
  const std::string bundle = bundleForServer();
  if (exists(bundle)) return loadInstalledDriver() ? 0 : kModuleRefusedBase + statusCode(AudioStatus::notSettable);

  log.infoWithTag(kTag, "BlackHole is not installed, beginning installation...");
  if (!exists(sourcePath)) {
    std::error_code error;
    const std::string cwd = std::filesystem::current_path(error).string();
    log.error(kTag, "Source path %s does not exist. Current path is %s", sourcePath.c_str(), cwd.c_str());
    return -1;
  }
  LoopbackModule module;
  if (!LoopbackModule::readFrom(sourcePath, module)) {
    log.error(kTag, "Source path %s holds no load-module line", sourcePath.c_str());
    return -1;
  }
  std::string source = sourcePath;
  if (answeringServerIsPipeWire()) {
    // PipeWire's pulse server reads its own format: the shipped form when it
    // sits beside the source, otherwise one made from the same module line.
    const auto sibling = std::filesystem::path(sourcePath).replace_extension(".conf").string();
    LoopbackModule shipped;
    source = LoopbackModule::readFrom(sibling, shipped) ? sibling : writeTemporaryDropIn(module);
    if (source.empty()) {
      log.errorWithTag(kTag, "Could not prepare the PipeWire drop-in");
      return -1;
    }
  }

  int status = runner_->createAuthorization();
  if (status != 0) {
    log.error(kTag, "AuthorizationCreate failed with status: %d", status);
    return status;
  }
  status = runner_->obtainRights(kPromptText);
  if (status == 0) {
    // One command makes the folder and copies the file: one prompt.
    status = runner_->execute({layout_.installTool, "-D", "-m", "0644", source, bundle});
    log.info(kTag, "install -D -m 0644 %s %s result: %d", source.c_str(), bundle.c_str(), status);
  }
  runner_->freeAuthorization();
  if (status == kPromptDismissed || status == kNotAuthorized) {
    log.error(kTag, "Administrator prompt was cancelled or refused (status: %d); nothing was installed", status);
    return status;
  }
  if (status != 0) {
    log.error(kTag, "Failed to install %s with status: %d", bundle.c_str(), status);
    return status;
  }
  // The server reads the drop-in at its next start; until then the host's
  // own connection loads the same module.
  return loadModule(module);
}

}  // namespace quillon
