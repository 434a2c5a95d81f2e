#include "quillon-engine/engine_cli.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <nlohmann/json.hpp>

#include "engine/method_channel.h"
#include "unit/engine/link_test_support.h"

// Exit codes 0, 1 and 2 and the error and "not implemented" texts are checked
// end to end by integration.test_host_spine.
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

TEST(EngineCli, CallMapsJsonBothWaysAndRefusesBadJsonOrNoHost) {
  test::LinkRunner runner;
  MethodChannel channel(runner.link(), "native_usb_factory");
  channel.setMethodCallHandler([](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    result->success(call.arguments);
  });
  auto [code, out, err] = runCli({"--socket", runner.path(), "call", "native_usb_factory", "echo",
                                  R"({"big":4294967296,"data":{"$bytes":"0A0b"},"list":[1,2.5,null]})"});
  EXPECT_EQ(code, 0) << err;
  EXPECT_EQ(nlohmann::json::parse(out),
            nlohmann::json::parse(R"({"big":4294967296,"data":{"$bytes":"0A0B"},"list":[1,2.5,null]})"));

  std::tie(code, out, err) = runCli({"--socket", runner.path(), "call", "native_usb_factory", "echo", "{oops"});
  EXPECT_EQ(code, 64);
  EXPECT_TRUE(out.empty());
  std::tie(code, out, err) = runCli({"--socket", runner.path() + ".none", "call", "c", "m"});
  EXPECT_EQ(code, 3);
  EXPECT_NE(err.find("no host listens"), std::string::npos) << err;
}

TEST(EngineCli, ListenPrintsEachHostMessageAsAJsonLineUntilTheHostGoes) {
  auto runner = std::make_unique<test::LinkRunner>();
  auto listening =
      std::async(std::launch::async, [path = runner->path()] { return runCli({"--socket", path, "listen"}); });
  ASSERT_TRUE(test::eventually([&] { return runner->link().engineConnected(); }));
  MethodChannel channel(runner->link(), "native_audio_factory");
  channel.invokeMethod("onOpusData", EncodableMap{{"data", std::vector<uint8_t>{0xDE, 0xAD}}});
  std::mutex mutex;
  std::optional<MethodReply> answer;
  channel.invokeMethod("menuOnExit", EncodableValue(), [&](MethodReply reply) {
    std::lock_guard lock(mutex);
    answer = reply;
  });
  // The second message asked for a reply; its arrival shows both were read.
  ASSERT_TRUE(test::eventually([&] {
    std::lock_guard lock(mutex);
    return answer.has_value();
  }));
  EXPECT_TRUE(std::holds_alternative<MethodNotImplemented>(*answer));
  // The host going ends the listening, after everything read was printed.
  runner.reset();
  const auto [code, out, err] = listening.get();
  EXPECT_EQ(code, 3) << err;
  EXPECT_EQ(out,
            "{\"arguments\":{\"data\":{\"$bytes\":\"DEAD\"}},\"channel\":\"native_audio_factory\",\"method\":"
            "\"onOpusData\"}\n"
            "{\"arguments\":null,\"channel\":\"native_audio_factory\",\"method\":\"menuOnExit\"}\n");
}

}  // namespace
}  // namespace quillon
