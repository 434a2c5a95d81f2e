#include <glib.h>
#include <gtest/gtest.h>

#include <thread>

#include "app/app_texts.h"
#include "app/main_flutter_window.h"
#include "app/plugin_registry.h"
#include "fakes/fake_messenger.h"
#include "fakes/fake_serial_tree.h"
#include "platform/linux/glib_main_thread.h"
#include "platform/linux/sysfs_serial_port_registry.h"
#include "unit/facade/facade_test_support.h"
#include "unit/usb/pty_device.h"

// A good "init", "eventByExit", serial commands on a real port and a whole
// recording streamed to the engine are end-to-end tests (integration).
namespace quillon {
namespace {

using namespace std::chrono_literals;

constexpr const char* kApplication = "native_application_factory";
constexpr const char* kAudio = "native_audio_factory";
constexpr const char* kUsb = "native_usb_factory";
constexpr const char* kBackground = "background_activity_factory";

// A window with its four channels on a fake messenger, counting the activities
// begun and not yet ended; its audio "init" makes facades over fake captures.
struct Window final : ActivityInhibitor, ApplicationControl {
  FakeMessenger messenger;
  GlibMainThread mainThread;
  test::FacadeWorld world;
  int liveActivities = 0;
  std::unique_ptr<MainFlutterWindow> window;

  explicit Window(std::shared_ptr<SerialPortRegistry> serialPorts = nullptr) {
    window = std::make_unique<MainFlutterWindow>(MainFlutterWindow::Environment{
        messenger, mainThread, *this, *this, std::move(serialPorts),
        [this](const std::string& blackHolePath, bool reserveStageAudio) {
          return std::make_unique<NativeAudioFactory>(blackHolePath, reserveStageAudio, world.dependencies());
        }});
    EmptyPluginRegistry plugins;
    window->awakeFromNib(plugins);
  }
  // Sends still queued must not outlive the messenger.
  ~Window() override {
    window.reset();
    while (g_main_context_iteration(nullptr, FALSE)) continue;
  }

  std::optional<MethodReply> call(const char* channel, const std::string& method, EncodableValue args = {}) {
    return messenger.call(channel, method, std::move(args));
  }


  std::unique_ptr<ActivityToken> beginActivity(const std::string&) override {
    struct Token final : ActivityToken {
      explicit Token(int& count) : live(++count) {}
      ~Token() override { --live; }
      int& live;
    };
    return std::make_unique<Token>(liveActivities);
  }
  void terminate() override {}
};

EncodableMap map(std::initializer_list<std::pair<const char*, EncodableValue>> entries) {
  EncodableMap result;
  for (const auto& [key, value] : entries) result[EncodableValue(key)] = value;
  return result;
}

// Anything but a success as text, so that one comparison shows what came instead.
std::string failure(const std::optional<MethodReply>& reply) {
  if (!reply) return "no reply";
  if (std::holds_alternative<MethodNotImplemented>(*reply)) return "not implemented";
  const auto* error = std::get_if<MethodError>(&*reply);
  if (!error) return "success";
  return error->code + ": " + error->message + (error->details.isNull() ? "" : " (with details)");
}

EncodableValue successValue(const std::optional<MethodReply>& reply) {
  const auto* success = reply ? std::get_if<MethodSuccess>(&*reply) : nullptr;
  EXPECT_NE(success, nullptr) << failure(reply);
  return success ? success->value : EncodableValue("<not a success>");
}

TEST(Channels, UnknownMethodsAreNotImplementedAndOnceTheWindowIsGoneEveryChannelIsUnavailable) {
  Window w;
  for (const auto& [channel, method] : std::vector<std::pair<const char*, const char*>>{
           {kApplication, "Init"}, {kAudio, "noSuchMethod"}, {kUsb, "OPEN"}, {kBackground, "beginbackgroundtask"}}) {
    EXPECT_EQ(failure(w.call(channel, method, map({{"path", "/dev/null"}}))), "not implemented") << method;
  }

  w.call(kBackground, "beginBackgroundTask", map({{"reason", "export"}}));
  EXPECT_EQ(w.liveActivities, 1);
  w.window.reset();
  EXPECT_EQ(w.liveActivities, 0);
  for (const char* channel : {kApplication, kAudio, kUsb, kBackground}) {
    EXPECT_EQ(failure(w.call(channel, "anything")), "UNAVAILABLE: Instance not available") << channel;
  }
}

TEST(ApplicationChannel, InitWithAnyKeyMissingOrOfTheWrongKindChangesNothing) {
  Window w;
  test::TempDir dir;
  const AppTexts before = appTexts();
  const EncodableMap complete = map(
      {{"logPath", dir.str()}, {"logEnable", true}, {"applicationName", "Recorder Desk"}, {"menuAbout", "About"},
       {"menuUpdate", "Update"}, {"menuSettings", "Settings"}, {"menuOpen", "Open"}, {"menuExit", "Quit"},
       {"menuAboutCopyrightTip", "© Somebody"}});
  std::vector<EncodableValue> refused = {EncodableValue(), EncodableList{}};
  for (const auto& [key, value] : complete) {
    EncodableMap args = complete;
    args.erase(key);
    refused.emplace_back(args);
    args[key] = EncodableValue(int32_t{1});
    refused.emplace_back(args);
  }
  for (const auto& args : refused) EXPECT_EQ(failure(w.call(kApplication, "init", args)), "INVALID_ARGS: Missing paths");
  EXPECT_EQ(appTexts().applicationName, before.applicationName);
  EXPECT_EQ(appTexts().menuAboutCopyrightTip, before.menuAboutCopyrightTip);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

EncodableMap startArgs(const test::TempDir& dir, bool mic) {
  return map({{"recorderMic", mic},
              {"recorderPath", dir.str()},
              {"wavFilePath", (dir.path() / "r.wav").string()},
              {"opusFilePath", (dir.path() / "r.opus").string()}});
}

TEST(AudioChannel, FallbacksAndArgumentErrorsChangeNothingAndARecordingStreamsThroughTheMainThread) {
  Window w;
  test::TempDir dir;
  for (const char* method : {"startRecorder", "switchMicRecorder", "pauseRecorder", "resumeRecorder"}) {
    EXPECT_EQ(successValue(w.call(kAudio, method, startArgs(dir, true))), EncodableValue(false)) << method;
  }
  EXPECT_EQ(successValue(w.call(kAudio, "stopRecorder")), map({{"success", -1}, {"duration", 0}, {"size", 0}}));
  for (const auto& args : {map({{"blackHolePath", "/d.pa"}}), map({{"blackHolePath", 7}, {"reserveStageAudio", true}})}) {
    EXPECT_EQ(failure(w.call(kAudio, "init", args)), "INVALID_ARGS: Missing paths");
  }
  EXPECT_EQ(w.window->nativeAudioFactory(), nullptr);

  ASSERT_EQ(successValue(w.call(kAudio, "init", map({{"blackHolePath", "/d.pa"}, {"reserveStageAudio", true}}))),
            EncodableValue(true));
  for (const auto& [key, value] : std::vector<std::pair<const char*, EncodableValue>>{
           {"opusFilePath", EncodableValue()}, {"recorderMic", "yes"}}) {
    auto args = startArgs(dir, true);
    args[EncodableValue(key)] = value;
    EXPECT_EQ(failure(w.call(kAudio, "startRecorder", args)), "INVALID_ARGUMENTS: 缺少参数") << key;
  }
  EXPECT_TRUE(w.world.captures.journal->events().empty());
  // A bad switch argument is no error, just false; the facade is not asked.
  EXPECT_EQ(successValue(w.call(kAudio, "switchMicRecorder", map({{"recorderMic", 1}}))), EncodableValue(false));
  EXPECT_TRUE(w.window->nativeAudioFactory()->isMicRecordingEnabled);
  // The duration itself is AudioUtil's (recording.AudioUtil).
  EXPECT_EQ(failure(w.call(kAudio, "getWavDuration", map({{"file", "/x.wav"}}))), "INVALID_ARGUMENTS: Missing 'path'");

  ASSERT_EQ(successValue(w.call(kAudio, "startRecorder", startArgs(dir, false))), EncodableValue(true));
  EXPECT_EQ(w.world.captures.journal->count("speaker.start(stage=1,path=" + dir.str() + ")"), 1u);

  auto speaker = w.world.captures.lastSpeaker;
  std::thread audioThread([&] {
    for (float level : {0.1f, 0.2f, 0.3f}) speaker->deliver(test::constantBlock(level));
  });
  audioThread.join();
  // Nothing is sent from the audio thread itself.
  EXPECT_TRUE(w.messenger.sent().empty());
  while (g_main_context_iteration(nullptr, FALSE)) continue;
  // A PCM block and an Opus packet per block, checked against the files end
  // to end (integration.test_recording).
  EXPECT_EQ(w.messenger.sent().size(), 6u);
}

TEST(UsbChannel, RejectsMissingOrMistypedPathsAndData) {
  Window w;
  for (const char* method : {"open", "close", "readUsbBytesData", "readUsbHexData"}) {
    for (const auto& args : {EncodableValue(), EncodableValue(map({{"path", int32_t{3}}}))}) {
      EXPECT_EQ(failure(w.call(kUsb, method, args)), "INVALID_ARGS: Missing 'path'") << method;
    }
  }
  // Bytes must be a plain list of integers 0..255: a typed byte array, a value
  // out of range or a non-integer would otherwise be sent as other bytes.
  const std::vector<std::pair<const char*, EncodableMap>> refused = {
      {"sendUsbHexData", map({{"path", "/dev/x"}})},
      {"sendUsbHexDataAndClose", map({{"data", "AA"}})},
      {"sendUsbBytesData", map({{"data", EncodableList{int32_t{1}}}})},
      {"sendUsbBytesData", map({{"path", "/dev/x"}, {"data", std::vector<uint8_t>{1, 2}}})},
      {"sendUsbBytesData", map({{"path", "/dev/x"}, {"data", EncodableList{int32_t{1}, int32_t{256}}}})},
      {"sendUsbBytesData", map({{"path", "/dev/x"}, {"data", EncodableList{int32_t{-1}}}})},
      {"sendUsbBytesData", map({{"path", "/dev/x"}, {"data", "0102"}})}};
  for (const auto& [method, args] : refused) {
    EXPECT_EQ(failure(w.call(kUsb, method, args)), "INVALID_ARGS: Missing 'path' or 'data'") << method;
  }
}

// The watcher's own cases are the usb folder's (usb.Watcher).
TEST(UsbChannelMonitor, ReportsPortChangesToTheEngineUntilStopped) {
  test::TempDir dir;
  test::FakeSerialTree tree(dir.path());
  tree.addAcmPort("ttyACM0", "1a86", "7523");
  Window w(std::make_shared<SysfsSerialPortRegistry>(tree.sysRoot(), tree.devRoot()));
  // What reached the engine once `count` messages came, or 20 s passed.
  auto sentBy = [&](size_t count) {
    for (int i = 0; i < 2000 && w.messenger.sent().size() < count; ++i) std::this_thread::sleep_for(10ms);
    return w.messenger.sent();
  };

  EXPECT_TRUE(successValue(w.call(kUsb, "startUsbChangedMonitor")).isNull());
  ASSERT_EQ(sentBy(1).size(), 1u);
  tree.removePort("ttyACM0");
  const auto sent = sentBy(2);
  EXPECT_TRUE(successValue(w.call(kUsb, "stopUsbChangedMonitor")).isNull());
  ASSERT_EQ(sent.size(), 2u);
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].channel + "." + sent[i].call.method, "native_usb_factory.onUsbDeviceChanged");
    EXPECT_EQ(sent[i].call.arguments, EncodableValue(map({{"path", tree.devicePath("ttyACM0")}, {"attached", i == 0}})));
  }
}

TEST(UsbChannelPorts, TheExchangeWindowDefaultsTo500Ms) {
  test::PtyDevice device;
  Window w;
  // The device answers the command at once; without a "timeout" the exchange
  // still collects for 50 passes of 10 ms.
  device.answer(2, {{0ms, {0xAB}}});
  const auto start = std::chrono::steady_clock::now();
  const auto reply = w.call(kUsb, "sendUsbHexDataAndClose", map({{"path", device.path()}, {"data", "C0DE"}}));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 490ms);
  EXPECT_EQ(device.command(), (std::vector<uint8_t>{0xC0, 0xDE}));
  EXPECT_EQ(successValue(reply), EncodableValue("AB"));
}

}  // namespace
}  // namespace quillon
