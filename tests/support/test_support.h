#pragma once

#include <filesystem>
#include <string>

namespace quillon::test {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);
// The day log's file name for today: native_YYYY-MM-DD.log.
std::string dayLogName();

}  // namespace quillon::test
