// The hot-plug monitor and the USB identifier lookup of UsbFactory.
#include "logging/logger.h"
#include "usb/usb_factory.h"

namespace quillon {

namespace {
constexpr const char* kTag = "UsbFactory";
}

void UsbFactory::startUsbChangedMonitor(
    std::function<void(const std::string& path, bool added)> callback) {
  watcher_->setCallback(std::move(callback));
  watcher_->startWatching();
}

void UsbFactory::stopUsbChangedMonitor() { watcher_->stopWatching(); }

bool UsbFactory::getVidPid(const char* path, uint16_t* vid, uint16_t* pid) {
  Logger& log = Logger::shared();
  log.info(kTag, "[getVidPid] Searching for path: %s", path ? path : "(null)");
  if (!path || !vid || !pid) {
    log.errorWithTag(kTag, "[getVidPid] Error: Input path, vid, or pid is null.");
    return false;
  }
  const UsbIdentifierLookup lookup = registry_->lookUpUsbIdentifiers(path);
  if (lookup.errorCode != 0) {
    log.error(kTag, "[getVidPid] Error: IOServiceGetMatchingServices returned %d",
              lookup.errorCode);
    return false;
  }
  for (const auto& match : lookup.matches) {
    if (!match) {
      log.warningWithTag(
          kTag,
          "[getVidPid] -> Matched path, but failed to get VID/PID properties by searching parents.");
      continue;
    }
    // Wider values keep their low 16 bits, read through a signed 32-bit value.
    *vid = static_cast<uint16_t>(static_cast<int32_t>(match->vendor));
    *pid = static_cast<uint16_t>(static_cast<int32_t>(match->product));
    log.info(kTag, "[getVidPid] -> Successfully parsed VID: %u, PID: %u", unsigned{*vid},
             unsigned{*pid});
    return true;
  }
  log.infoWithTag(
      kTag, "[getVidPid] -> Loop finished, device with specified path not found or VID/PID missing.");
  return false;
}

}  // namespace quillon
