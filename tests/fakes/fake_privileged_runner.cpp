#include "fakes/fake_privileged_runner.h"

namespace quillon::test {

int FakePrivilegedRunner::createAuthorization() {
  calls.push_back("create");
  return createStatus;
}

int FakePrivilegedRunner::obtainRights(const std::string& prompt) {
  calls.push_back("rights: " + prompt);
  return rightsStatus;
}

int FakePrivilegedRunner::execute(const std::vector<std::string>& argv) {
  std::string line = "run:";
  for (const auto& a : argv) line += " " + a;
  calls.push_back(line);
  auto it = runStatus.find(argv.empty() ? "" : argv[0]);
  return it == runStatus.end() ? 0 : it->second;
}

}  // namespace quillon::test
