#include "engine/method_channel.h"

#include <gtest/gtest.h>

#include "engine/standard_codec.h"
#include "fakes/fake_messenger.h"
#include "support/expected_log_lines.h"
#include "support/log_capture.h"
#include "value_printer.h"

// Calls over a real link, undecodable ones included, are covered by the
// EngineLink, EngineLinkClient and command-line tests; these are the cases
// only a fake shows.
namespace quillon {
namespace {

TEST(MethodResult, IsDeliveredOnceAndASecondOrMissingAnswerIsLogged) {
  test::LogCapture log;
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
  EXPECT_EQ(log.count(std::string(kResultError) + "chan.twice" + std::string(kAnsweredTwice)), 1u) << log.text();
  EXPECT_EQ(log.count(std::string(kResultError) + "chan.forgotten" + std::string(kNeverAnswered)), 1u);
}

TEST(MethodChannel, AClearedHandlerIsGoneAndTheEnginesAnswersReachTheCaller) {
  test::FakeMessenger messenger;
  MethodChannel channel(messenger, "native_audio_factory");
  channel.setMethodCallHandler([](const MethodCall&, std::unique_ptr<MethodResult> result) { result->success(); });
  EXPECT_TRUE(std::holds_alternative<MethodSuccess>(*messenger.call("native_audio_factory", "x")));
  channel.setMethodCallHandler(nullptr);
  EXPECT_TRUE(std::holds_alternative<MethodNotImplemented>(*messenger.call("native_audio_factory", "x")));

  // An envelope the engine garbles still reaches the caller, as an error; an
  // answer over a real link is checked by tools.EngineCli.
  std::optional<MethodReply> garbled;
  channel.invokeMethod("menuOnUpdate", EncodableValue(), [&](MethodReply reply) { garbled = reply; });
  ASSERT_TRUE(messenger.answerPending("native_audio_factory", {0x07}));
  ASSERT_TRUE(garbled && std::holds_alternative<MethodError>(*garbled));
  EXPECT_EQ(std::get<MethodError>(*garbled).code, "BAD_REPLY");
}

}  // namespace
}  // namespace quillon
