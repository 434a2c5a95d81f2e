#include "quillon-engine/engine_cli.h"

#include <gtest/gtest.h>

#include <future>
#include <nlohmann/json.hpp>

#include "engine/method_channel.h"
#include "unit/engine/link_test_support.h"

// Exit codes 0, 1 and 2 are checked end to end by integration.test_host_spine.
namespace quillon {
namespace {

// The exit code and what went to standard output and error.
std::tuple<int, std::string, std::string> runCli(std::vector<std::string> args) {
  args.insert(args.begin(), "quillon-engine");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int code = engineCliMain(static_cast<int>(argv.size()), argv.data());
  std::fflush(stdout);
  return {code, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
}

TEST(EngineCli, CallMapsJsonBothWaysAndRefusesBadJsonNoHostOrNoReply) {
  test::LinkRunner runner;
  // Each value goes over the link and back.
  const std::string args = R"({"min32":-2147483648,"big":2147483648,"max":9223372036854775807,)"
                           R"("data":{"$bytes":"00ff7A"},"list":[1,true,null,2.5,"x"]})";
  MethodChannel channel(runner.link(), "c");
  channel.setMethodCallHandler([](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    if (call.method != "silent") result->success(call.arguments);
  });
  // Options after the subcommand count too.
  auto [code, out, err] = runCli({"call", "c", "echo", "--socket", runner.path(), args});
  EXPECT_EQ(code, 0) << err;
  auto printed = nlohmann::json::parse(args);
  printed["data"]["$bytes"] = "00FF7A";
  EXPECT_EQ(nlohmann::json::parse(out, nullptr, false), printed) << out;

  for (const char* bad : {"{oops", "9223372036854775808", R"({"$bytes":"0"})", R"({"$bytes":"zz"})"}) {
    std::tie(code, out, err) = runCli({"--socket", runner.path(), "call", "c", "echo", bad});
    EXPECT_EQ(code, 64) << bad;
  }
  std::tie(code, out, err) = runCli({"--socket", runner.path(), "--timeout", "0.2", "call", "c", "silent"});
  EXPECT_EQ(code, 3);
  EXPECT_NE(err.find("no reply within 200 ms"), std::string::npos) << err;
  std::tie(code, out, err) = runCli({"--socket", runner.path() + ".none", "call", "c", "m"});
  EXPECT_EQ(code, 3);
  EXPECT_NE(err.find("no host listens"), std::string::npos) << err;
}

// Its printing of host messages is checked end to end (integration.test_window).
TEST(EngineCli, ListenEndsWhenTheHostGoes) {
  auto runner = std::make_unique<test::LinkRunner>();
  auto listening =
      std::async(std::launch::async, [path = runner->path()] { return runCli({"--socket", path, "listen"}); });
  ASSERT_TRUE(test::eventually([&] { return runner->link().engineConnected(); }));
  runner.reset();
  const auto [code, out, err] = listening.get();
  EXPECT_EQ(code, 3) << err;
}

}  // namespace
}  // namespace quillon
