// Random method calls on the window's four channels, on an in-memory
// messenger. Every call made with a decodable message must be answered before
// its handler returns, with a reply the engine can decode, and every other
// message reported undecodable, unanswered; at most one background activity
// may be held at a time.
//
// Nothing here may touch the machine: every argument whose key names a path
// is redirected into a private temporary folder of plain files (no device
// nodes, no FIFOs that could block a write), exchange time-outs are kept
// short, the serial-port registry is a stand-in tree in the same folder, and
// quitting only counts.
#include <fuzzer/FuzzedDataProvider.h>
#include <glib.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/main_flutter_window.h"
#include "app/plugin_registry.h"
#include "engine/standard_codec.h"
#include "fakes/fake_audio_server.h"
#include "fakes/fake_messenger.h"
#include "fakes/fake_recording_capture.h"
#include "fakes/fake_serial_tree.h"
#include "fuzz_check.h"
#include "platform/linux/glib_main_thread.h"
#include "platform/linux/sysfs_serial_port_registry.h"
#include "recording/native_audio_factory.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

const char* const kChannels[] = {"native_application_factory", "native_audio_factory", "native_usb_factory",
                                 "background_activity_factory"};

// What each method reads, so most calls get past argument checks and reach
// the work behind them: p path, s text, h hex text, b flag, i integer, l byte list.
struct MethodShape {
  int channel;
  const char* method;
  const char* keys[10];
  const char* kinds;
};

const MethodShape kShapes[] = {
    {0, "init", {"logPath", "logEnable", "applicationName", "menuAbout", "menuUpdate", "menuSettings", "menuOpen",
                 "menuExit", "menuAboutCopyrightTip"}, "pbsssssss"},
    {0, "eventByExit", {}, ""},
    {0, "getResourceUsage", {}, ""},
    {1, "init", {"blackHolePath", "reserveStageAudio"}, "pb"},
    {1, "startRecorder", {"recorderMic", "recorderPath", "wavFilePath", "opusFilePath"}, "bppp"},
    {1, "switchMicRecorder", {"recorderMic"}, "b"},
    {1, "pauseRecorder", {}, ""},
    {1, "resumeRecorder", {}, ""},
    {1, "stopRecorder", {}, ""},
    {1, "getWavDuration", {"path"}, "p"},
    {1, "checkMicActive", {}, ""},
    {2, "open", {"path"}, "p"},
    {2, "close", {"path"}, "p"},
    {2, "readUsbBytesData", {"path"}, "p"},
    {2, "readUsbHexData", {"path"}, "p"},
    {2, "sendUsbHexData", {"path", "data"}, "ph"},
    {2, "sendUsbHexDataAndClose", {"path", "data", "timeout", "trace"}, "phis"},
    {2, "sendUsbBytesData", {"path", "data"}, "pl"},
    {2, "startUsbChangedMonitor", {}, ""},
    {2, "stopUsbChangedMonitor", {}, ""},
    {3, "beginBackgroundTask", {"reason"}, "s"},
    {3, "endBackgroundTask", {}, ""},
};

const char* const kKeys[] = {"path", "data", "timeout", "trace", "logPath", "logEnable", "applicationName",
                             "reason", "recorderMic", "recorderPath", "wavFilePath", "opusFilePath",
                             "blackHolePath", "reserveStageAudio"};

// A sandbox folder made once per process and removed at exit.
struct Sandbox {
  fs::path root;
  std::vector<std::string> paths;
  std::unique_ptr<test::FakeSerialTree> tree;

  Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "quillon-fuzz-XXXXXX").string();
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
    root = pattern;
    fs::create_directories(root / "logs");
    fs::create_directories(root / "folder");
    tree = std::make_unique<test::FakeSerialTree>(root / "tree");
    tree->addAcmPort("ttyACM0", "2fe3", "0001");
    paths = {(root / "port0").string(), (root / "port1").string(), (root / "missing").string(),
             (root / "take.wav").string(), (root / "take.opus").string(),
             (root / "folder").string(), (root / "logs").string(), (root / "missing" / "deeper").string(),
             tree->devicePath("ttyACM0")};
    resetFiles();
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  // Plain files with a little content, so reads find something to return.
  void resetFiles() const {
    for (const char* name : {"port0", "port1"}) std::ofstream(root / name, std::ios::trunc) << "\xA5\x5A\x01";
    std::ofstream(tree->devicePath("ttyACM0"), std::ios::trunc) << "\x01\x02";
    std::error_code ignored;
    for (const char* folder : {"logs", "folder"}) {
      for (const auto& entry : fs::directory_iterator(root / folder, ignored)) fs::remove_all(entry.path(), ignored);
    }
    for (const char* name : {"take.wav", "take.opus"}) fs::remove(root / name, ignored);
  }

  std::string pathFor(const std::string& requested) const {
    return paths[std::hash<std::string>{}(requested) % paths.size()];
  }
};

Sandbox& sandbox() {
  static Sandbox instance;
  return instance;
}

class CountingInhibitor final : public ActivityInhibitor {
 public:
  class Token final : public ActivityToken {
   public:
    explicit Token(int& live) : live_(live) { ++live_; }
    ~Token() override { --live_; }

   private:
    int& live_;
  };
  std::unique_ptr<ActivityToken> beginActivity(const std::string&) override { return std::make_unique<Token>(live); }
  int live = 0;
};

class CountingApplication final : public ApplicationControl {
 public:
  void terminate() override { ++terminations; }
  int terminations = 0;
};

class NoPlugins final : public PluginRegistry {
 public:
  PluginRegistrar* registrarForPlugin(const std::string&) override { return nullptr; }
};

bool namesAPath(const std::string& key) {
  std::string lower = key;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("path") != std::string::npos;
}

EncodableValue randomValue(FuzzedDataProvider& input, int depth);

// Keeps a call inside the sandbox and quick, whatever the fuzzer chose.
EncodableValue confined(const std::string& key, EncodableValue value) {
  if (namesAPath(key) && value.asString()) return EncodableValue(sandbox().pathFor(*value.asString()));
  // Exchanges collect for their whole time-out; a few passes are enough here.
  if (key == "timeout" && value.asInteger()) return EncodableValue(static_cast<int32_t>(*value.asInteger() % 40));
  return value;
}

// Text as the engine sends it: always UTF-8. Arbitrary bytes in a string are
// the raw messages' business, which the link answers as undecodable.
std::string text(FuzzedDataProvider& input, size_t maxLength) {
  std::string raw = input.ConsumeRandomLengthString(maxLength);
  gchar* valid = g_utf8_make_valid(raw.data(), static_cast<gssize>(raw.size()));
  std::string result(valid);
  g_free(valid);
  return result;
}

EncodableValue randomMap(FuzzedDataProvider& input, int depth) {
  EncodableMap map;
  const int count = input.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < count && input.remaining_bytes() > 0; ++i) {
    std::string key = input.ConsumeBool() ? input.PickValueInArray(kKeys) : text(input, 12);
    EncodableValue value = confined(key, randomValue(input, depth + 1));
    map.insert_or_assign(EncodableValue(std::move(key)), std::move(value));
  }
  return map;
}

EncodableValue valueOfKind(FuzzedDataProvider& input, char kind) {
  static const char* const kHex[] = {"A55A01", "a5 5a", "0", "FFFFFFFF", "zz", "A5中5A", ""};
  switch (kind) {
    case 'p': return std::to_string(input.ConsumeIntegral<uint8_t>());
    case 'b': return input.ConsumeBool();
    case 'i': return input.ConsumeBool() ? EncodableValue(input.ConsumeIntegral<int32_t>())
                                         : EncodableValue(input.ConsumeIntegral<int64_t>());
    case 'h': return input.ConsumeBool() ? std::string(input.PickValueInArray(kHex)) : text(input, 32);
    case 'l': {
      EncodableList list;
      const int count = input.ConsumeIntegralInRange(0, 16);
      for (int i = 0; i < count; ++i) list.emplace_back(input.ConsumeIntegralInRange<int32_t>(-2, 300));
      return list;
    }
    default: return text(input, 24);
  }
}

// The method's own keys, each usually of the right type, sometimes missing or
// of another type, plus the odd stray key.
EncodableValue shapedArguments(FuzzedDataProvider& input, const MethodShape& shape) {
  EncodableMap map;
  for (size_t i = 0; shape.kinds[i] != '\0'; ++i) {
    const int roll = input.ConsumeIntegralInRange(0, 15);
    if (roll == 0) continue;
    EncodableValue value = roll == 1 ? randomValue(input, 1) : valueOfKind(input, shape.kinds[i]);
    map.insert_or_assign(EncodableValue(shape.keys[i]), confined(shape.keys[i], std::move(value)));
  }
  if (input.ConsumeIntegralInRange(0, 7) == 0) {
    std::string key = input.PickValueInArray(kKeys);
    EncodableValue value = confined(key, randomValue(input, 1));
    map.insert_or_assign(EncodableValue(std::move(key)), std::move(value));
  }
  return map;
}

EncodableValue randomValue(FuzzedDataProvider& input, int depth) {
  switch (input.ConsumeIntegralInRange(0, depth > 2 ? 7 : 9)) {
    case 0: return {};
    case 1: return input.ConsumeBool();
    case 2: return input.ConsumeIntegral<int32_t>();
    case 3: return input.ConsumeIntegral<int64_t>();
    case 4: return input.ConsumeFloatingPoint<double>();
    case 5: return text(input, 64);
    case 6: return input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 32));
    case 7: {
      // Mostly byte-sized integers, as a byte list argument would carry.
      EncodableList list;
      const int count = input.ConsumeIntegralInRange(0, 16);
      for (int i = 0; i < count; ++i) list.emplace_back(input.ConsumeIntegralInRange<int32_t>(-2, 300));
      return list;
    }
    case 8: {
      EncodableList list;
      const int count = input.ConsumeIntegralInRange(0, 4);
      for (int i = 0; i < count; ++i) list.push_back(randomValue(input, depth + 1));
      return list;
    }
    default: return randomMap(input, depth);
  }
}

// Runs what handlers and capture callbacks posted to the main thread; none of
// it may outlive this input's messenger.
void runMainLoopOnce() {
  for (int i = 0; i < 100000 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Sandbox& box = sandbox();
  box.resetFiles();
  FuzzedDataProvider input(data, size);

  test::FakeMessenger messenger;
  GlibMainThread mainThread;
  CountingInhibitor inhibitor;
  CountingApplication application;
  NoPlugins plugins;
  auto registry = std::make_shared<SysfsSerialPortRegistry>(box.tree->sysRoot(), box.tree->devRoot());
  test::FakeCaptureMakers captures;
  captures.micStarts = input.ConsumeIntegralInRange(0, 7) != 0;
  captures.speakerStarts = input.ConsumeIntegralInRange(0, 7) != 0;
  // The driver counts as installed or not; installing it only answers a status.
  const bool driverInstalled = input.ConsumeBool();
  const int installStatus = input.ConsumeIntegralInRange(-1, 1);
  auto makeFacade = [&](const std::string& blackHolePath, bool reserveStageAudio) {
    return std::make_unique<NativeAudioFactory>(
        blackHolePath, reserveStageAudio,
        NativeAudioFactory::Dependencies{captures.makers(), [driverInstalled] { return driverInstalled; },
                                         [installStatus](const std::string&) { return installStatus; }});
  };
  auto window = std::make_unique<MainFlutterWindow>(
      MainFlutterWindow::Environment{messenger, mainThread, inhibitor, application, registry, makeFacade,
                                     // Any question about the sound server goes to devices held in memory.
                                     std::make_shared<test::FakeAudioServer>()});
  window->awakeFromNib(plugins);

  for (int calls = 0; calls < 12 && input.remaining_bytes() > 0; ++calls) {
    const int mode = input.ConsumeIntegralInRange(0, 15);
    if (mode == 2) {
      // A captured block from either source, as the capture threads deliver them.
      auto capture = input.ConsumeBool() ? captures.lastMic : captures.lastSpeaker;
      // Several in a row, so the mixer gets past the speaker's lead and mixes.
      const auto samples = input.ConsumeIntegralInRange<size_t>(0, 1300);
      const int repeats = input.ConsumeIntegralInRange(1, 8);
      std::vector<float> block(samples, input.ConsumeFloatingPointInRange<float>(-2.0f, 2.0f));
      for (int i = 0; capture && i < repeats; ++i) {
        capture->deliver(block);
      }
    } else if (mode == 0) {
      // Raw bytes: answered with an envelope, or reported undecodable (the
      // engine link answers those), never both and never neither.
      const std::string channel = input.PickValueInArray(kChannels);
      std::string undecodable;
      auto raw = messenger.deliverRaw(channel, input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 64)),
                                      &undecodable);
      FUZZ_CHECK(raw.has_value() == undecodable.empty());
      if (raw && !raw->empty()) FUZZ_CHECK(StandardCodec::decodeEnvelope(*raw).has_value());
    } else {
      std::string channel;
      std::string method;
      EncodableValue arguments;
      if (mode == 1) {
        // Any name on any channel (unknown channels included), any arguments.
        channel = input.ConsumeBool() ? input.PickValueInArray(kChannels) : input.ConsumeRandomLengthString(24);
        method = text(input, 24);
        arguments = input.ConsumeBool() ? randomValue(input, 0) : randomMap(input, 0);
        if (!arguments.asMap()) arguments = EncodableValue();  // only maps carry paths, keep it that way
      } else {
        const MethodShape& shape = input.PickValueInArray(kShapes);
        // Now and then a known method on the wrong channel.
        channel = kChannels[mode == 3 ? input.ConsumeIntegralInRange(0, 3) : shape.channel];
        method = shape.method;
        arguments = shapedArguments(input, shape);
      }
      auto reply = messenger.call(channel, method, std::move(arguments));
      FUZZ_CHECK(reply.has_value());
      if (auto* failure = std::get_if<MethodError>(&*reply)) FUZZ_CHECK(failure->code != "UNDECODABLE_REPLY");
    }
    FUZZ_CHECK(inhibitor.live >= 0 && inhibitor.live <= 1);
    runMainLoopOnce();
  }
  window.reset();
  runMainLoopOnce();
  FUZZ_CHECK(inhibitor.live == 0);
  return 0;
}
