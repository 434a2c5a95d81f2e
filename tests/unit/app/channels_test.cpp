#include <gtest/gtest.h>

#include "app/app_texts.h"
#include "channel_test_support.h"
#include "support/test_support.h"

// A good "init", the resource line, "eventByExit", the background activity's
// begin, end and default reason and the serial commands on a real port, one
// that cannot open included, are checked end to end (integration.test_host_spine,
// test_window); these are the cases only a fake shows.
namespace quillon {
namespace {

using test::expectError;
using test::map;
using test::WindowFixture;

constexpr const char* kApplication = "native_application_factory";
constexpr const char* kAudio = "native_audio_factory";
constexpr const char* kUsb = "native_usb_factory";
constexpr const char* kBackground = "background_activity_factory";

TEST(Channels, UnknownOrDifferentlyCasedMethodsAreNotImplementedOnEveryChannel) {
  WindowFixture fixture;
  for (const auto& [channel, method] : std::vector<std::pair<const char*, const char*>>{
           {kApplication, "noSuchMethod"}, {kAudio, "noSuchMethod"}, {kUsb, "noSuchMethod"},
           {kBackground, "noSuchMethod"}, {kApplication, "Init"}, {kUsb, "OPEN"}, {kBackground, "beginbackgroundtask"}}) {
    auto reply = fixture.messenger.call(channel, method, map({{"path", "/dev/null"}}));
    EXPECT_TRUE(reply && std::holds_alternative<MethodNotImplemented>(*reply)) << channel << "." << method;
  }
}

TEST(Channels, OnceTheWindowIsGoneItsActivityEndsAndEveryChannelAnswersUnavailable) {
  WindowFixture fixture;
  fixture.messenger.call(kBackground, "beginBackgroundTask", map({{"reason", "export"}}));
  EXPECT_EQ(fixture.inhibitor.live, 1);
  fixture.window.reset();
  EXPECT_EQ(fixture.inhibitor.live, 0);
  for (const char* channel : {kApplication, kAudio, kUsb, kBackground}) {
    expectError(fixture.messenger.call(channel, "anything"), "UNAVAILABLE", "Instance not available");
  }
  expectError(fixture.messenger.call(kBackground, "beginBackgroundTask"), "UNAVAILABLE", "Instance not available");
  EXPECT_EQ(fixture.inhibitor.live, 0);
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
