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
  std::map<std::string, int> runStatus;  // by argv[0]

  int createAuthorization() override {
    calls.push_back("create");
    return createStatus;
  }
  int obtainRights(const std::string& prompt) override {
    calls.push_back("rights: " + prompt);
    return 0;
  }
  int execute(const std::vector<std::string>& argv) override {
    std::string line = "run:";
    for (const auto& a : argv) line += " " + a;
    calls.push_back(line);
    auto it = runStatus.find(argv.empty() ? "" : argv[0]);
    return it == runStatus.end() ? 0 : it->second;
  }
  void freeAuthorization() override { calls.push_back("free"); }
};

}  // namespace quillon::test
