#include <array>
#include <string_view>

#include "app/plugin_registry.h"
#include "logging/logger.h"

namespace quillon {

namespace {
constexpr std::array<std::string_view, 10> kPluginNames = {
    "AudioplayersDarwinPlugin",   "DeviceInfoPlusMacosPlugin",  "FilePickerPlugin",
    "FileSelectorPlugin",         "InAppWebViewFlutterPlugin",  "FlutterSecureStoragePlugin",
    "IsarFlutterLibsPlugin",      "FPPPackageInfoPlusPlugin",   "PathProviderPlugin",
    "SharedPreferencesPlugin",
};
}  // namespace

void RegisterGeneratedPlugins(PluginRegistry& registry) {
  for (std::string_view name : kPluginNames) {
    PluginRegistrar* registrar = registry.registrarForPlugin(std::string(name));
    if (!registrar) {
      Logger::shared().info("host", "plug-in %.*s skipped: no library for it on this platform",
                            static_cast<int>(name.size()), name.data());
      continue;
    }
    // A registrar exists only where an embedding supplies the plug-in's
    // library; that library registers itself through it.
    Logger::shared().info("host", "plug-in %.*s registered", static_cast<int>(name.size()), name.data());
  }
}

}  // namespace quillon
