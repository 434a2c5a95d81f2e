#pragma once

#include <string>
#include <vector>

namespace quillon {

// Runs fixed commands with administrator rights. One authorization covers the
// commands run between createAuthorization() and freeAuthorization().
// Statuses are 0 on success.
class PrivilegedRunner {
 public:
  virtual ~PrivilegedRunner() = default;
  virtual int createAuthorization() = 0;
  // Asks the user for administrator rights; `prompt` says why.
  virtual int obtainRights(const std::string& prompt) = 0;
  // Runs argv[0] with argv (never through a shell), waits for it and answers
  // its exit status (128 + signal when killed, -1 when it could not start).
  virtual int execute(const std::vector<std::string>& argv) = 0;
  virtual void freeAuthorization() = 0;
};

// Through pkexec and the polkit agent; when the process already runs as root
// the commands run directly and no prompt is shown.
class PkexecRunner final : public PrivilegedRunner {
 public:
  int createAuthorization() override;
  int obtainRights(const std::string& prompt) override;
  int execute(const std::vector<std::string>& argv) override;
  void freeAuthorization() override {}
};

// Spawns argv without a shell, waits, and answers the exit status as above.
int runAndWait(const std::vector<std::string>& argv);

}  // namespace quillon
