#include "quillon-engine/engine_cli.h"

#include <gtest/gtest.h>

#include <future>
#include <limits>
#include <nlohmann/json.hpp>

#include "engine/method_channel.h"
#include "quillon-engine/json_value.h"
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

TEST(JsonValue, RepliesPrintAsDocumented) {
  EXPECT_EQ(replyToText(MethodSuccess{EncodableValue(std::vector<int32_t>{1, 2})}), "[1,2]");
  EXPECT_EQ(replyToText(MethodSuccess{EncodableMap{{int32_t{3}, "three"}}}), R"({"3":"three"})");
  EXPECT_EQ(replyToText(MethodSuccess{EncodableList{int64_t{1} << 40, 2.5, false}}), "[1099511627776,2.5,false]");
  EXPECT_EQ(replyToText(MethodError{"E", "m", int32_t{7}}), R"({"details":7,"error":"E","message":"m"})");
  EXPECT_EQ(replyToText(MethodNotImplemented{}), "not implemented");
}

TEST(EngineCli, CallMapsJsonBothWaysAndRefusesBadJsonNoHostOrNoReply) {
  test::LinkRunner runner;
  // Integers take the codec's width; "$bytes" beside other keys, or not text,
  // is an ordinary map entry.
  const std::string args = R"({"min32":-2147483648,"big":2147483648,"max":9223372036854775807,)"
                           R"("data":{"$bytes":"00ff7A"},"list":[1,true,null,2.5,"x"],)"
                           R"("beside":{"$bytes":"00","b":1},"number":{"$bytes":5}})";
  const EncodableMap expected{{"min32", int32_t{-2147483648}},
                              {"big", int64_t{2147483648}},
                              {"max", std::numeric_limits<int64_t>::max()},
                              {"data", std::vector<uint8_t>{0x00, 0xFF, 0x7A}},
                              {"list", EncodableList{int32_t{1}, true, EncodableValue(), 2.5, "x"}},
                              {"beside", EncodableMap{{"$bytes", "00"}, {"b", int32_t{1}}}},
                              {"number", EncodableMap{{"$bytes", int32_t{5}}}}};
  MethodChannel channel(runner.link(), "native_usb_factory");
  channel.setMethodCallHandler([&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    EXPECT_EQ(call.arguments, EncodableValue(expected));
    result->success(call.arguments);
  });
  // Options after the subcommand count too.
  auto [code, out, err] = runCli({"call", "native_usb_factory", "echo", "--socket", runner.path(), args});
  EXPECT_EQ(code, 0) << err;
  auto printed = nlohmann::json::parse(args);
  printed["data"]["$bytes"] = "00FF7A";
  // A failure inside the handler lands in the captured output, shown here.
  EXPECT_EQ(nlohmann::json::parse(out, nullptr, false), printed) << out;

  for (const char* bad : {"{oops", "9223372036854775808", R"({"$bytes":"0"})", R"({"$bytes":"zz"})"}) {
    std::tie(code, out, err) = runCli({"--socket", runner.path(), "call", "native_usb_factory", "echo", bad});
    EXPECT_EQ(code, 64) << bad;
  }
  runner.link().setMessageHandler("silent",
                                  [](BinaryMessage, BinaryReply) { return std::optional<UndecodableMessage>(); });
  std::tie(code, out, err) = runCli({"--socket", runner.path(), "--timeout", "0.2", "call", "silent", "m"});
  EXPECT_EQ(code, 3);
  EXPECT_NE(err.find("no reply within 200 ms"), std::string::npos) << err;
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
  std::promise<MethodReply> answer;
  channel.invokeMethod("menuOnExit", EncodableValue(), [&](MethodReply reply) { answer.set_value(reply); });
  // The second message asked for a reply; its arrival shows both were read.
  auto answered = answer.get_future();
  ASSERT_EQ(answered.wait_for(test::kPatience), std::future_status::ready);
  EXPECT_TRUE(std::holds_alternative<MethodNotImplemented>(answered.get()));
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
