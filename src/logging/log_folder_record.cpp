#include "logging/log_folder_record.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "logging/logger.h"
#include "platform/system_log.h"

namespace quillon {

namespace fs = std::filesystem;

namespace {

// The base directory spec allows only absolute paths in XDG_STATE_HOME; a
// relative one is ignored as if unset.
std::string stateHome() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return state;
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.local/state";
  return {};
}

// Folders the record needs are made private to the user, as the base directory
// spec asks of the state home.
bool makePrivateFolders(const fs::path& folder) {
  fs::path partial;
  for (const auto& part : folder) {
    partial /= part;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

std::string logFolderRecordPath() {
  const std::string home = stateHome();
  return home.empty() ? std::string() : home + "/quillon-host/log-folder";
}

void recordLogFolder(const std::string& folder, bool logEnable) {
  const std::string record = logFolderRecordPath();
  if (record.empty()) return;
  std::error_code ec;
  if (!logEnable) {
    fs::remove(record, ec);
    return;
  }
  const fs::path absolute = fs::absolute(folder, ec);
  if (ec || !makePrivateFolders(fs::path(record).parent_path())) {
    systemLog("log folder not recorded in %s", record.c_str());
    return;
  }
  // Written aside and renamed, so a reader never sees half a path.
  const std::string aside = record + ".new";
  {
    std::ofstream out(aside, std::ios::binary | std::ios::trunc);
    out << absolute.string();
    if (!out.flush()) {
      systemLog("log folder not recorded in %s", record.c_str());
      return;
    }
  }
  fs::rename(aside, record, ec);
  if (ec) systemLog("log folder not recorded in %s", record.c_str());
}

std::optional<std::string> recordedLogFolder() {
  const std::string record = logFolderRecordPath();
  if (record.empty()) return std::nullopt;
  std::ifstream in(record, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  std::string folder = text.str();
  std::error_code ec;
  // A folder removed since is not brought back by a process that was never told of it.
  if (folder.empty() || !fs::is_directory(folder, ec)) return std::nullopt;
  return folder;
}

void adoptRecordedLogFolder(Logger& logger) {
  if (logger.configured()) return;
  if (auto folder = recordedLogFolder()) logger.configure(*folder, true);
}

}  // namespace quillon
