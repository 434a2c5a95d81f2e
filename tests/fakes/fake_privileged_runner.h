#pragma once

#include <map>
#include <string>
#include <vector>

#include "capture/privileged_runner.h"

namespace quillon::test {

// Records every step as text ("create", "rights: PROMPT", "run: ARGV", "free")
// and answers the statuses a test sets.
class FakePrivilegedRunner final : public PrivilegedRunner {
 public:
  std::vector<std::string> calls;
  int createStatus = 0;
  int rightsStatus = 0;
  std::map<std::string, int> runStatus;  // by argv[0]

  int createAuthorization() override;
  int obtainRights(const std::string& prompt) override;
  int execute(const std::vector<std::string>& argv) override;
  void freeAuthorization() override { calls.push_back("free"); }
};

}  // namespace quillon::test
