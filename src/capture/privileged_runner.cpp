#include "capture/privileged_runner.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "logging/logger.h"

extern char** environ;

namespace quillon {
namespace {

constexpr const char* kTag = "blackHoleUtil";
constexpr const char* kPkexec = "/usr/bin/pkexec";

bool runningAsRoot() { return geteuid() == 0; }

}  // namespace

int runAndWait(const std::vector<std::string>& argv) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int error = posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ);
  if (error != 0) {
    Logger::shared().error(kTag, "Could not start %s: errno %d", args[0], error);
    return -1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int PkexecRunner::createAuthorization() {
  if (runningAsRoot()) return 0;
  return access(kPkexec, X_OK) == 0 ? 0 : 127;
}

int PkexecRunner::obtainRights(const std::string& prompt) {
  Logger::shared().info(kTag, "Administrator rights requested: %s", prompt.c_str());
  // pkexec asks when the command runs: asking here as well would show the
  // user a second dialog for the same install.
  return 0;
}

int PkexecRunner::execute(const std::vector<std::string>& argv) {
  if (runningAsRoot()) return runAndWait(argv);
  std::vector<std::string> elevated{kPkexec};
  elevated.insert(elevated.end(), argv.begin(), argv.end());
  return runAndWait(elevated);
}

}  // namespace quillon
