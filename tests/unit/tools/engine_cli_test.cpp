#include "quillon-engine/engine_cli.h"

#include <gtest/gtest.h>

#include <future>
#include <limits>
#include <mutex>
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

TEST(JsonValue, IntegersTakeTheCodecsWidthAndBytesTheirOwnForm) {
  const std::vector<std::pair<std::string, EncodableValue>> read = {
      {"-2147483648", int32_t{-2147483648}},
      {"2147483648", int64_t{2147483648}},
      {"9223372036854775807", std::numeric_limits<int64_t>::max()},
      {R"({"data":{"$bytes":"00ff7A"},"list":[1,true,null,"x"],"nested":{"k":2.5}})",
       EncodableMap{{"data", std::vector<uint8_t>{0x00, 0xFF, 0x7A}},
                    {"list", EncodableList{int32_t{1}, true, EncodableValue(), "x"}},
                    {"nested", EncodableMap{{"k", 2.5}}}}},
      // "$bytes" beside other keys, or not text, is an ordinary map entry.
      {R"({"$bytes":"00","b":1})", EncodableMap{{"$bytes", "00"}, {"b", int32_t{1}}}},
      {R"({"$bytes":5})", EncodableMap{{"$bytes", int32_t{5}}}},
  };
  for (const auto& [text, value] : read) EXPECT_EQ(jsonToValue(nlohmann::json::parse(text)), value) << text;
  for (const char* bad : {"9223372036854775808", R"({"$bytes":"0"})", R"({"$bytes":"zz"})"}) {
    EXPECT_FALSE(jsonToValue(nlohmann::json::parse(bad))) << bad;
  }
}

TEST(JsonValue, RepliesPrintAsDocumented) {
  EXPECT_EQ(replyToText(MethodSuccess{EncodableValue(std::vector<int32_t>{1, 2})}), "[1,2]");
  EXPECT_EQ(replyToText(MethodSuccess{EncodableMap{{int32_t{3}, "three"}}}), R"({"3":"three"})");
  EXPECT_EQ(replyToText(MethodError{"E", "m", int32_t{7}}), R"({"details":7,"error":"E","message":"m"})");
  EXPECT_EQ(replyToText(MethodNotImplemented{}), "not implemented");
}

TEST(EngineCli, CallMapsJsonBothWaysAndRefusesBadJsonOrNoHostOrNoReply) {
  test::LinkRunner runner;
  MethodChannel channel(runner.link(), "native_usb_factory");
  channel.setMethodCallHandler([](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    result->success(call.arguments);
  });
  auto [code, out, err] = runCli({"call", "native_usb_factory", "echo", "--socket", runner.path(),
                                  R"({"big":4294967296,"data":{"$bytes":"0A0b"},"list":[1,2.5,null]})"});
  EXPECT_EQ(code, 0) << err;
  EXPECT_EQ(nlohmann::json::parse(out),
            nlohmann::json::parse(R"({"big":4294967296,"data":{"$bytes":"0A0B"},"list":[1,2.5,null]})"));

  std::tie(code, out, err) = runCli({"--socket", runner.path(), "call", "native_usb_factory", "echo", "{oops"});
  EXPECT_EQ(code, 64);
  EXPECT_TRUE(out.empty());
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
