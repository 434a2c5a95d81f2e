#include "tools/engine_cli.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <nlohmann/json.hpp>

#include "engine/method_channel.h"
#include "unit/engine/link_test_support.h"

namespace quillon {
namespace {

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome runCli(std::vector<std::string> args) {
  args.insert(args.begin(), "quillon-engine");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int code = engineCliMain(static_cast<int>(argv.size()), argv.data());
  std::fflush(stdout);
  return {code, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
}

class EngineCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    channel_ = std::make_unique<MethodChannel>(runner_.link(), "native_usb_factory");
    channel_->setMethodCallHandler([](const MethodCall& call, std::unique_ptr<MethodResult> result) {
      if (call.method == "echo") return result->success(call.arguments);
      if (call.method == "open") return result->error("INVALID_ARGS", "Missing 'path'");
      result->notImplemented();
    });
  }
  test::LinkRunner runner_;
  std::unique_ptr<MethodChannel> channel_;
};

TEST_F(EngineCliTest, CallPrintsTheReplyAndExitsByItsKind) {
  auto echo = runCli({"--socket", runner_.path(), "call", "native_usb_factory", "echo",
                      R"({"big":4294967296,"data":{"$bytes":"0A0b"},"list":[1,2.5,null]})"});
  EXPECT_EQ(echo.code, 0) << echo.err;
  EXPECT_EQ(nlohmann::json::parse(echo.out),
            nlohmann::json::parse(R"({"big":4294967296,"data":{"$bytes":"0A0B"},"list":[1,2.5,null]})"));

  auto error = runCli({"--socket", runner_.path(), "call", "native_usb_factory", "open"});
  EXPECT_EQ(error.code, 1);
  EXPECT_EQ(nlohmann::json::parse(error.out),
            nlohmann::json::parse(R"({"error":"INVALID_ARGS","message":"Missing 'path'","details":null})"));

  auto unknown = runCli({"--socket", runner_.path(), "call", "native_usb_factory", "nothing"});
  EXPECT_EQ(unknown.code, 2);
  EXPECT_EQ(unknown.out, "not implemented\n");

  auto badJson = runCli({"--socket", runner_.path(), "call", "native_usb_factory", "echo", "{oops"});
  EXPECT_EQ(badJson.code, 64);
  EXPECT_TRUE(badJson.out.empty());
}

TEST_F(EngineCliTest, NoHostIsExitThreeWithAReason) {
  test::TempDir dir;
  auto outcome = runCli({"--socket", (dir.path() / "none.sock").string(), "call", "c", "m"});
  EXPECT_EQ(outcome.code, 3);
  EXPECT_NE(outcome.err.find("no host listens"), std::string::npos) << outcome.err;
}

TEST(EngineCliListen, PrintsEachHostMessageAsAJsonLineUntilTheHostGoes) {
  auto runner = std::make_unique<test::LinkRunner>();
  const std::string path = runner->path();
  testing::internal::CaptureStdout();
  auto listening = std::async(std::launch::async, [path] {
    std::string socketOption = "--socket", socket = path, command = "listen", name = "quillon-engine";
    char* argv[] = {name.data(), socketOption.data(), socket.data(), command.data()};
    return engineCliMain(4, argv);
  });
  ASSERT_TRUE(test::eventually([&] { return runner->link().engineConnected(); }));
  MethodChannel channel(runner->link(), "native_audio_factory");
  channel.invokeMethod("onOpusData", EncodableMap{{"data", std::vector<uint8_t>{0xDE, 0xAD}}});
  std::optional<MethodReply> answer;
  std::mutex mutex;
  channel.invokeMethod("menuOnExit", EncodableValue(), [&](MethodReply reply) {
    std::lock_guard lock(mutex);
    answer = reply;
  });
  // The second message asked for a reply; its arrival shows both were read.
  ASSERT_TRUE(test::eventually([&] {
    std::lock_guard lock(mutex);
    return answer.has_value();
  }));
  {
    std::lock_guard lock(mutex);
    EXPECT_TRUE(std::holds_alternative<MethodNotImplemented>(*answer));
  }
  // The host going ends the listening, after everything read was printed.
  runner.reset();
  EXPECT_EQ(listening.get(), 3);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "{\"arguments\":{\"data\":{\"$bytes\":\"DEAD\"}},\"channel\":\"native_audio_factory\",\"method\":"
            "\"onOpusData\"}\n"
            "{\"arguments\":null,\"channel\":\"native_audio_factory\",\"method\":\"menuOnExit\"}\n");
}

}  // namespace
}  // namespace quillon
