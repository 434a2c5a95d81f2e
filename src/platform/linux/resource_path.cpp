#include "platform/linux/resource_path.h"

#include <filesystem>

namespace quillon {

std::string resourcePath(const std::string& installed, const std::string& source) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path executable = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const fs::path beside = executable.parent_path().parent_path() / "share" / installed;
    if (fs::exists(beside, error)) return beside.string();
  }
  const fs::path fromSource = fs::path(QUILLON_SOURCE_DIR) / "resources" / source;
  if (fs::exists(fromSource, error)) return fromSource.string();
  return {};
}

}  // namespace quillon
