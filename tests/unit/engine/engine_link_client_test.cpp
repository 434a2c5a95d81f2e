#include "engine/engine_link_client.h"

#include <gtest/gtest.h>

#include <mutex>

#include "engine/method_channel.h"
#include "link_test_support.h"

// "No host listens" is checked through the command line (tools.EngineCli).
namespace quillon {
namespace {

TEST(EngineLinkClient, CallsKeepHostMessagesThatArriveMeanwhileAndTimeOutWithoutAnswer) {
  test::LinkRunner runner;
  std::mutex mutex;
  std::unique_ptr<MethodResult> held;
  MethodChannel channel(runner.link(), "native_usb_factory");
  channel.setMethodCallHandler([&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    if (call.method == "slow") {
      std::lock_guard lock(mutex);
      held = std::move(result);
      return;
    }
    if (call.method != "open") return result->notImplemented();
    // The host talks to the engine before it answers.
    channel.invokeMethod("onUsbDeviceChanged", EncodableMap{{"path", *call.arguments.find("path")}});
    result->error("INVALID_ARGS", "Missing 'path'", int32_t{7});
  });

  EngineLinkClient client;
  ASSERT_TRUE(client.connect(runner.path()));
  std::string error;
  auto reply = client.call("native_usb_factory", "open", EncodableMap{{"path", "/dev/ttyACM0"}},
                           std::chrono::seconds(20), &error);
  ASSERT_TRUE(reply) << error;
  ASSERT_TRUE(std::holds_alternative<MethodError>(*reply));
  EXPECT_EQ(std::get<MethodError>(*reply).details, EncodableValue(int32_t{7}));

  auto unknown = client.call("native_usb_factory", "close", {}, std::chrono::seconds(20), &error);
  ASSERT_TRUE(unknown) << error;
  EXPECT_TRUE(std::holds_alternative<MethodNotImplemented>(*unknown));

  auto message = client.receive(std::chrono::seconds(20), &error);
  ASSERT_TRUE(message) << error;
  EXPECT_EQ(message->channel, "native_usb_factory");
  EXPECT_EQ(message->replyId, 0u);
  auto call = StandardCodec::decodeMethodCall(message->payload);
  ASSERT_TRUE(call);
  EXPECT_EQ(call->method, "onUsbDeviceChanged");
  EXPECT_EQ(*call->arguments.find("path"), EncodableValue("/dev/ttyACM0"));
  // Nothing more is waiting: a short receive times out with no error.
  EXPECT_FALSE(client.receive(std::chrono::milliseconds(50), &error));
  EXPECT_TRUE(error.empty()) << error;

  EXPECT_FALSE(client.call("native_usb_factory", "slow", {}, std::chrono::milliseconds(200), &error));
  EXPECT_NE(error.find("no reply within 200 ms"), std::string::npos) << error;
  // Answered late, once the caller gave up: dropped without harm.
  ASSERT_TRUE(test::eventually([&] {
    std::lock_guard lock(mutex);
    return held != nullptr;
  }));
  std::lock_guard lock(mutex);
  held->success();
}

}  // namespace
}  // namespace quillon
