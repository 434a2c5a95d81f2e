#include <gtest/gtest.h>

#include <regex>

#include "app/app_texts.h"
#include "channel_test_support.h"
#include "support/test_support.h"

namespace quillon {
namespace {

using test::WindowFixture;

constexpr const char* kApplication = "native_application_factory";
constexpr const char* kAudio = "native_audio_factory";
constexpr const char* kUsb = "native_usb_factory";
constexpr const char* kBackground = "background_activity_factory";

EncodableMap map(std::initializer_list<std::pair<const char*, EncodableValue>> entries) {
  EncodableMap result;
  for (const auto& [key, value] : entries) result[EncodableValue(key)] = value;
  return result;
}

void expectError(const std::optional<MethodReply>& reply, const std::string& code, const std::string& message) {
  ASSERT_TRUE(reply.has_value());
  const auto* error = std::get_if<MethodError>(&*reply);
  ASSERT_NE(error, nullptr) << "expected an error reply";
  EXPECT_EQ(error->code, code);
  EXPECT_EQ(error->message, message);
  EXPECT_TRUE(error->details.isNull());
}

EncodableValue successValue(const std::optional<MethodReply>& reply) {
  const auto* success = reply ? std::get_if<MethodSuccess>(&*reply) : nullptr;
  EXPECT_NE(success, nullptr) << "expected a success reply";
  return success ? success->value : EncodableValue("<not a success>");
}

bool isNotImplemented(const std::optional<MethodReply>& reply) {
  return reply && std::holds_alternative<MethodNotImplemented>(*reply);
}

TEST(Channels, UnknownOrDifferentlyCasedMethodsAreNotImplementedOnEveryChannel) {
  WindowFixture fixture;
  for (const char* channel : {kApplication, kAudio, kUsb, kBackground}) {
    EXPECT_TRUE(isNotImplemented(fixture.messenger.call(channel, "noSuchMethod"))) << channel;
  }
  EXPECT_TRUE(isNotImplemented(fixture.messenger.call(kApplication, "Init")));
  EXPECT_TRUE(isNotImplemented(fixture.messenger.call(kUsb, "OPEN", map({{"path", "/dev/null"}}))));
  EXPECT_TRUE(isNotImplemented(fixture.messenger.call(kBackground, "beginbackgroundtask")));
}

TEST(Channels, EveryChannelAnswersUnavailableOnceTheWindowIsGone) {
  WindowFixture fixture;
  fixture.window.reset();
  for (const char* channel : {kApplication, kAudio, kUsb, kBackground}) {
    expectError(fixture.messenger.call(channel, "anything"), "UNAVAILABLE", "Instance not available");
  }
  expectError(fixture.messenger.call(kBackground, "beginBackgroundTask"), "UNAVAILABLE", "Instance not available");
  EXPECT_TRUE(fixture.inhibitor.events.empty());
}

TEST(ApplicationChannel, InitWithAnyKeyMissingOrOfTheWrongKindChangesNothing) {
  WindowFixture fixture;
  test::TempDir dir;
  const AppTexts before = appTexts();
  const EncodableMap complete = map(
      {{"logPath", dir.str()}, {"logEnable", true}, {"applicationName", "Recorder Desk"}, {"menuAbout", "About"},
       {"menuUpdate", "Update"}, {"menuSettings", "Settings"}, {"menuOpen", "Open"}, {"menuExit", "Quit"},
       {"menuAboutCopyrightTip", "© Somebody"}});
  for (const auto& [key, value] : complete) {
    EncodableMap missing = complete;
    missing.erase(key);
    expectError(fixture.messenger.call(kApplication, "init", missing), "INVALID_ARGS", "Missing paths");
    EncodableMap wrongKind = complete;
    wrongKind[key] = EncodableValue(int32_t{1});
    expectError(fixture.messenger.call(kApplication, "init", wrongKind), "INVALID_ARGS", "Missing paths");
  }
  expectError(fixture.messenger.call(kApplication, "init"), "INVALID_ARGS", "Missing paths");
  expectError(fixture.messenger.call(kApplication, "init", EncodableList{}), "INVALID_ARGS", "Missing paths");
  EXPECT_EQ(appTexts().applicationName, before.applicationName);
  EXPECT_EQ(appTexts().menuAboutCopyrightTip, before.menuAboutCopyrightTip);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// A good init (day log line, texts shown in the About panel) is checked end to
// end by integration.test_host_spine and test_window.
TEST(ApplicationChannel, ResourceUsageIsThisProcessesLineAndEventByExitQuits) {
  WindowFixture fixture;
  const auto line = successValue(fixture.messenger.call(kApplication, "getResourceUsage"));
  ASSERT_TRUE(line.getIf<std::string>());
  std::smatch match;
  ASSERT_TRUE(std::regex_match(*line.getIf<std::string>(), match,
                               std::regex(R"(Memory: (\d+\.\d\d) MB \| CPU: (\d+\.\d\d)%)")));
  EXPECT_GT(std::stod(match[1]), 0.0);

  EXPECT_TRUE(successValue(fixture.messenger.call(kApplication, "eventByExit")).isNull());
  EXPECT_EQ(fixture.application.terminations, 1);
}

TEST(BackgroundActivityChannel, HoldsAtMostOneActivityAndDefaultsTheReason) {
  WindowFixture fixture;
  auto& events = fixture.inhibitor.events;
  EXPECT_TRUE(successValue(fixture.messenger.call(kBackground, "endBackgroundTask")).isNull());
  EXPECT_TRUE(events.empty());

  fixture.messenger.call(kBackground, "beginBackgroundTask", map({{"reason", "export"}}));
  fixture.messenger.call(kBackground, "beginBackgroundTask", map({{"reason", int32_t{5}}}));
  fixture.messenger.call(kBackground, "beginBackgroundTask");
  fixture.messenger.call(kBackground, "beginBackgroundTask", EncodableValue("not a map"));
  EXPECT_TRUE(successValue(fixture.messenger.call(kBackground, "endBackgroundTask")).isNull());
  const std::string fallback = "Performing a long-running task";
  EXPECT_EQ(events, (std::vector<std::string>{"begin:export", "end:export", "begin:" + fallback, "end:" + fallback,
                                               "begin:" + fallback, "end:" + fallback, "begin:" + fallback,
                                               "end:" + fallback}));
}

TEST(UsbChannel, RejectsMissingOrMistypedPathsAndData) {
  WindowFixture fixture;
  for (const char* method : {"open", "close", "readUsbBytesData", "readUsbHexData"}) {
    expectError(fixture.messenger.call(kUsb, method), "INVALID_ARGS", "Missing 'path'");
    expectError(fixture.messenger.call(kUsb, method, map({{"path", int32_t{3}}})), "INVALID_ARGS", "Missing 'path'");
  }
  for (const char* method : {"sendUsbHexData", "sendUsbHexDataAndClose", "sendUsbBytesData"}) {
    expectError(fixture.messenger.call(kUsb, method, map({{"path", "/dev/x"}})), "INVALID_ARGS",
                "Missing 'path' or 'data'");
    expectError(fixture.messenger.call(kUsb, method, map({{"data", "AA"}})), "INVALID_ARGS",
                "Missing 'path' or 'data'");
  }
  // Bytes must be a plain list of integers 0..255: a typed byte array, a value
  // out of range or a non-integer would otherwise be sent as other bytes.
  const std::vector<EncodableValue> badData = {
      EncodableValue(std::vector<uint8_t>{1, 2}), EncodableValue(EncodableList{int32_t{1}, int32_t{256}}),
      EncodableValue(EncodableList{int32_t{-1}}), EncodableValue(EncodableList{EncodableValue("1")}),
      EncodableValue("0102")};
  for (const auto& data : badData) {
    expectError(fixture.messenger.call(kUsb, "sendUsbBytesData", map({{"path", "/dev/x"}, {"data", data}})),
                "INVALID_ARGS", "Missing 'path' or 'data'");
  }
}

TEST(UsbChannel, PortCommandsOnAPortThatIsNotOpenAnswerNeutralResults) {
  WindowFixture fixture;
  const std::string path = "/nonexistent/tty";
  const std::vector<std::tuple<const char*, EncodableMap, EncodableValue>> cases = {
      {"open", map({{"path", path}}), EncodableValue(false)},
      {"sendUsbHexData", map({{"path", path}, {"data", "AA"}}), EncodableValue("REAL_PORT_NOT_OPEN")},
      {"sendUsbBytesData", map({{"path", path}, {"data", EncodableList{int32_t{0}, int32_t{255}}}}),
       EncodableValue("REAL_PORT_NOT_OPEN")},
      {"readUsbBytesData", map({{"path", path}}), EncodableValue(EncodableList{})},
      {"readUsbHexData", map({{"path", path}}), EncodableValue("")},
      {"close", map({{"path", path}}), EncodableValue()},
  };
  for (const auto& [method, args, expected] : cases) {
    EXPECT_EQ(successValue(fixture.messenger.call(kUsb, method, args)), expected) << method;
  }
}

TEST(Plugins, AllTenAreAskedForByNameInOrder) {
  WindowFixture fixture;
  EXPECT_EQ(fixture.plugins.asked,
            (std::vector<std::string>{"AudioplayersDarwinPlugin", "DeviceInfoPlusMacosPlugin", "FilePickerPlugin",
                                      "FileSelectorPlugin", "InAppWebViewFlutterPlugin", "FlutterSecureStoragePlugin",
                                      "IsarFlutterLibsPlugin", "FPPPackageInfoPlusPlugin", "PathProviderPlugin",
                                      "SharedPreferencesPlugin"}));
}

}  // namespace
}  // namespace quillon
