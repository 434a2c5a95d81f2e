#include "engine/method_channel.h"

#include <gtest/gtest.h>

#include <thread>

#include "engine/standard_codec.h"
#include "fakes/fake_messenger.h"
#include "support/expected_log_lines.h"
#include "unit/logging/day_log.h"
#include "value_printer.h"

// Replies over a real link (echo, error, not implemented) are covered by the
// EngineLinkClient and command-line tests; these are the cases only a fake shows.
namespace quillon {
namespace {

class MethodChannelTest : public test::WithDayLog {
 protected:
  test::FakeMessenger messenger_;
};

TEST_F(MethodChannelTest, ResultIsDeliveredOnceAndASecondAnswerIsLogged) {
  int deliveries = 0;
  {
    MethodResult result("chan.twice", [&](MethodReply reply) {
      ++deliveries;
      EXPECT_TRUE(std::holds_alternative<MethodSuccess>(reply));
    });
    result.success(true);
    result.error("LATE", "ignored");
  }
  EXPECT_EQ(deliveries, 1);
  { MethodResult forgotten("chan.forgotten", [](MethodReply) {}); }
  using namespace test::log_lines;
  EXPECT_EQ(countInLog(std::string(kResultError) + "chan.twice" + std::string(kAnsweredTwice)), 1u) << logText();
  EXPECT_EQ(countInLog(std::string(kResultError) + "chan.forgotten" + std::string(kNeverAnswered)), 1u);
}

// The engine link answers what the channel reports (engine.EngineLink).
TEST_F(MethodChannelTest, UndecodableCallIsReportedUnansweredAndAClearedHandlerIsGone) {
  MethodChannel channel(messenger_, "native_test_factory");
  bool handlerRan = false;
  channel.setMethodCallHandler([&](const MethodCall&, std::unique_ptr<MethodResult> result) {
    handlerRan = true;
    result->error("INVALID_ARGS", "Missing 'path'");
  });
  std::string undecodable;
  EXPECT_FALSE(messenger_.deliverRaw("native_test_factory", {0x07, 0x09, 'x'}, &undecodable));
  EXPECT_EQ(undecodable, "string runs past the end at byte 2");
  EXPECT_FALSE(handlerRan);

  auto fail = messenger_.call("native_test_factory", "fail");
  ASSERT_TRUE(fail && std::holds_alternative<MethodError>(*fail));
  EXPECT_TRUE(std::get<MethodError>(*fail).details.isNull());
  channel.setMethodCallHandler(nullptr);
  auto gone = messenger_.call("native_test_factory", "fail");
  EXPECT_TRUE(gone && std::holds_alternative<MethodNotImplemented>(*gone));
}

TEST_F(MethodChannelTest, LateRepliesAndMessagesIntoTheEngine) {
  MethodChannel channel(messenger_, "native_audio_factory");
  std::unique_ptr<MethodResult> kept;
  channel.setMethodCallHandler(
      [&](const MethodCall&, std::unique_ptr<MethodResult> result) { kept = std::move(result); });
  EXPECT_FALSE(messenger_.call("native_audio_factory", "stopRecorder"));
  std::thread([&] { kept->success(int32_t{5}); }).join();
  auto late = messenger_.lastReply("native_audio_factory");
  ASSERT_TRUE(late && std::holds_alternative<MethodSuccess>(*late));
  EXPECT_EQ(std::get<MethodSuccess>(*late).value, EncodableValue(int32_t{5}));

  channel.invokeMethod("onPcmData", EncodableMap{{"data", std::vector<uint8_t>{1, 2}}});
  messenger_.setEngineConnected(false);
  channel.invokeMethod("onOpusData");
  messenger_.setEngineConnected(true);
  std::optional<MethodReply> answer;
  channel.invokeMethod("menuOnExit", EncodableValue(), [&](MethodReply reply) { answer = reply; });
  ASSERT_TRUE(messenger_.answerPending("native_audio_factory", {0x00, 0x01}));
  // An envelope the engine garbles still reaches the caller, as an error.
  std::optional<MethodReply> garbled;
  channel.invokeMethod("menuOnUpdate", EncodableValue(), [&](MethodReply reply) { garbled = reply; });
  ASSERT_TRUE(messenger_.answerPending("native_audio_factory", {0x07}));

  const auto sent = messenger_.sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].call.method, "onPcmData");
  EXPECT_EQ(*sent[0].call.arguments.find("data"), EncodableValue(std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(sent[1].call.method, "menuOnExit");
  EXPECT_TRUE(sent[1].wantsReply);
  ASSERT_TRUE(answer && std::holds_alternative<MethodSuccess>(*answer));
  EXPECT_EQ(std::get<MethodSuccess>(*answer).value, EncodableValue(true));
  ASSERT_TRUE(garbled && std::holds_alternative<MethodError>(*garbled));
  EXPECT_EQ(std::get<MethodError>(*garbled).code, "BAD_REPLY");
}

}  // namespace
}  // namespace quillon
