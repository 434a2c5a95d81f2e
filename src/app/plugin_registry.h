#pragma once

#include <string>

namespace quillon {

// The engine's plug-ins register through the registrar their registry hands
// out by name. No plug-in library exists on this platform yet, so a registry
// may answer none and the plug-in is skipped.
class PluginRegistrar {
 public:
  virtual ~PluginRegistrar() = default;
};

class PluginRegistry {
 public:
  virtual ~PluginRegistry() = default;
  virtual PluginRegistrar* registrarForPlugin(const std::string& name) = 0;
};

// The registry of this build: it has no plug-in libraries and answers none.
class EmptyPluginRegistry final : public PluginRegistry {
 public:
  PluginRegistrar* registrarForPlugin(const std::string&) override { return nullptr; }
};

// Asks the registry for the registrar of each of the engine's plug-ins, in the
// engine's order, and registers those whose library is present.
void RegisterGeneratedPlugins(PluginRegistry& registry);

}  // namespace quillon
