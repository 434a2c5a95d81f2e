#include "capture/loopback_driver_installer.h"

#include <filesystem>
#include <system_error>

#include "logging/logger.h"

namespace quillon {
namespace {

constexpr const char* kTag = "blackHoleUtil";

bool exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

}  // namespace

LoopbackDriverInstaller::LoopbackDriverInstaller(LoopbackInstallLayout layout,
                                                 std::shared_ptr<PrivilegedRunner> runner)
    : layout_(std::move(layout)), runner_(std::move(runner)) {}

int LoopbackDriverInstaller::authorize() {
  int status = runner_->createAuthorization();
  if (status != 0) {
    Logger::shared().error(kTag, "AuthorizationCreate failed with status: %d", status);
    return status;
  }
  status = runner_->obtainRights(kPromptText);
  if (status != 0) {
    Logger::shared().error(kTag, "AuthorizationCopyRights failed with status: %d", status);
    runner_->freeAuthorization();
  }
  return status;
}

int LoopbackDriverInstaller::checkAndInstallDriver(const std::string& sourcePath) {
  Logger& log = Logger::shared();
  if (exists(layout_.installedBundle)) {
    log.infoWithTag(kTag, "BlackHole is installed, skipping installation...");
    return 0;
  }
  log.infoWithTag(kTag, "BlackHole is not installed, beginning installation...");
  if (!exists(sourcePath)) {
    std::error_code error;
    const std::string cwd = std::filesystem::current_path(error).string();
    log.error(kTag, "Source path %s does not exist. Current path is %s", sourcePath.c_str(),
              cwd.c_str());
    return -1;
  }
  if (!exists(layout_.pluginFolder)) {
    if (int status = authorize(); status != 0) return status;
    int status = runner_->execute({"/bin/mkdir", "-p", layout_.pluginFolder});
    log.info(kTag, "mkdir -p %s result: %d", layout_.pluginFolder.c_str(), status);
    if (status != 0) {
      log.error(kTag, "Failed to create directory %s with status: %d", layout_.pluginFolder.c_str(),
                status);
      runner_->freeAuthorization();
      return status;
    }
    runner_->freeAuthorization();
  }
  if (int status = authorize(); status != 0) return status;
  const std::string target = layout_.copyTarget();
  int status = runner_->execute({"/bin/cp", "-r", sourcePath, target});
  log.info(kTag, "cp -r %s %s result: %d", sourcePath.c_str(), target.c_str(), status);
  if (status == 0) {
    status = runner_->execute(layout_.restartCommand);
    log.info(kTag, "kill -9 %s result: %d", layout_.restartTarget.c_str(), status);
  }
  runner_->freeAuthorization();
  return status;
}

}  // namespace quillon
