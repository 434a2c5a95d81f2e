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
  // Readies the rights for the commands that follow; `prompt` says why. The
  // pkexec runner asks the user when the command runs, through the polkit
  // action installed for it, so a single command means a single dialog.
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
