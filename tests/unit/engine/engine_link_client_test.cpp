#include "engine/engine_link_client.h"

#include <gtest/gtest.h>

#include <mutex>

#include "engine/method_channel.h"
#include "link_test_support.h"

// "No host listens" and "not implemented" are checked through the command line
// (tools.EngineCli, integration.test_host_spine); a receive that times out
// without an error by the recording command's polling (integration.test_recording).
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
    // The host talks to the engine before it answers.
    channel.invokeMethod("onUsbDeviceChanged", call.arguments);
    result->error("INVALID_ARGS", "Missing 'path'", int32_t{7});
  });

  EngineLinkClient client;
  ASSERT_TRUE(client.connect(runner.path()));
  std::string error;
  auto reply = client.call("native_usb_factory", "open", EncodableValue("/dev/ttyACM0"), test::kPatience, &error);
  ASSERT_TRUE(reply && std::holds_alternative<MethodError>(*reply)) << error;
  EXPECT_EQ(std::get<MethodError>(*reply).details, EncodableValue(int32_t{7}));

  auto message = client.receive(test::kPatience, &error);
  ASSERT_TRUE(message) << error;
  EXPECT_EQ(message->channel, "native_usb_factory");
  EXPECT_EQ(message->replyId, 0u);
  auto call = StandardCodec::decodeMethodCall(message->payload);
  ASSERT_TRUE(call);
  EXPECT_EQ(call->method, "onUsbDeviceChanged");
  EXPECT_EQ(call->arguments, EncodableValue("/dev/ttyACM0"));

  EXPECT_FALSE(client.call("native_usb_factory", "slow", {}, std::chrono::milliseconds(200), &error));
  EXPECT_NE(error.find("no reply within 200 ms"), std::string::npos) << error;
  // Answered late, once the caller gave up: the next call still gets its own reply.
  ASSERT_TRUE(test::eventually([&] {
    std::lock_guard lock(mutex);
    return held != nullptr;
  }));
  {
    std::lock_guard lock(mutex);
    held->success();
  }
  reply = client.call("native_usb_factory", "open", EncodableValue("again"), test::kPatience, &error);
  EXPECT_TRUE(reply && std::holds_alternative<MethodError>(*reply)) << error;
}

}  // namespace
}  // namespace quillon
