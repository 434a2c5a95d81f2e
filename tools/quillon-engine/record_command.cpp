#include "quillon-engine/record_command.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>

#include "engine/engine_link_client.h"
#include "engine/standard_codec.h"
#include "platform/linux/resource_path.h"
#include "quillon-engine/json_value.h"
#include "quillon-engine/level_meter.h"

namespace quillon {

namespace {

constexpr const char* kAudioChannel = "native_audio_factory";

struct RecordOptions {
  double seconds = 0;  // 0: until Ctrl-C
  std::string dir;
  bool noMic = false;
  bool stage = false;
  std::string driverPath = resourcePath("quillon-host/VerdalisRecorder.pa", "VerdalisRecorder.pa");
};

std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted.store(true); }

std::string defaultFolder() {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return std::string("recording-") + stamp;
}

EncodableValue argumentMap(std::initializer_list<std::pair<const char*, EncodableValue>> entries) {
  EncodableMap map;
  for (const auto& [key, value] : entries) map[EncodableValue(key)] = value;
  return map;
}

// Calls a method; prints the reason and answers nullopt unless it succeeded.
std::optional<EncodableValue> callOrReport(EngineLinkClient& client, const EngineCliOptions& options,
                                           const std::string& method, const EncodableValue& arguments) {
  std::string error;
  auto reply = client.call(kAudioChannel, method, arguments, options.timeout, &error);
  if (!reply) {
    std::fprintf(stderr, "quillon-engine: %s: %s\n", method.c_str(), error.c_str());
    return std::nullopt;
  }
  if (const auto* success = std::get_if<MethodSuccess>(&*reply)) return success->value;
  std::fprintf(stderr, "quillon-engine: %s: %s\n", method.c_str(), replyToText(*reply).c_str());
  return std::nullopt;
}

// What arrived from the host while recording.
struct Progress {
  LevelMeter meter;
  uint64_t pcmBlocks = 0;
  uint64_t pcmBytes = 0;
  uint64_t opusPackets = 0;
};

void take(const EngineLinkClient::HostMessage& message, Progress& progress) {
  if (message.channel != kAudioChannel) return;
  auto call = StandardCodec::decodeMethodCall(message.payload);
  if (!call) return;
  const auto* bytes = call->arguments.asBytes();
  if (!bytes) return;
  if (call->method == "onPcmData") {
    progress.meter.feed(bytes->data(), bytes->size());
    ++progress.pcmBlocks;
    progress.pcmBytes += bytes->size();
  } else if (call->method == "onOpusData") {
    ++progress.opusPackets;
  }
}

void showProgress(const Progress& progress, double elapsed, bool terminal) {
  const int whole = static_cast<int>(elapsed);
  std::printf("%s%02d:%02d  [%s] %6.1f dBFS  opus packets: %llu", terminal ? "\r" : "", whole / 60, whole % 60,
              progress.meter.bar(30).c_str(), progress.meter.levelDb(),
              static_cast<unsigned long long>(progress.opusPackets));
  std::printf(terminal ? "\x1b[K" : "\n");
  std::fflush(stdout);
}

int runRecord(const EngineCliOptions& options, RecordOptions record) {
  EngineLinkClient client;
  std::string error;
  if (!client.connect(options.socketPath, &error)) {
    std::fprintf(stderr, "quillon-engine: %s\n", error.c_str());
    return kExitNoHost;
  }
  if (record.dir.empty()) record.dir = defaultFolder();
  std::error_code ec;
  std::filesystem::create_directories(record.dir, ec);
  const std::string folder = std::filesystem::absolute(record.dir, ec).lexically_normal().string();
  const std::string wavPath = folder + "/recording.wav";
  const std::string opusPath = folder + "/recording.opus";

  // From here on Ctrl-C ends the recording with "stopRecorder" rather than
  // leaving the host recording with the system output switched.
  interrupted.store(false);
  struct RestoreInterrupt {
    void (*previous)(int) = std::signal(SIGINT, onInterrupt);
    ~RestoreInterrupt() { std::signal(SIGINT, previous); }
  } restoreInterrupt;
  if (!callOrReport(client, options, "init",
                    argumentMap({{"blackHolePath", record.driverPath}, {"reserveStageAudio", record.stage}}))) {
    return kExitErrorReply;
  }
  const auto started = callOrReport(client, options, "startRecorder",
                                    argumentMap({{"recorderMic", !record.noMic},
                                                 {"recorderPath", folder},
                                                 {"wavFilePath", wavPath},
                                                 {"opusFilePath", opusPath}}));
  if (!started) return kExitErrorReply;
  const bool running = started->asBool() && *started->asBool();
  if (!running) std::fprintf(stderr, "quillon-engine: the recording did not fully start (see the host's log)\n");

  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  Progress progress;
  using Clock = std::chrono::steady_clock;
  const auto begin = Clock::now();
  auto lastShown = begin - std::chrono::seconds(1);
  bool connectionLost = false;
  for (;;) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    if (interrupted.load() || (record.seconds > 0 && elapsed >= record.seconds)) break;
    if (Clock::now() - lastShown >= (terminal ? std::chrono::milliseconds(100) : std::chrono::milliseconds(1000))) {
      showProgress(progress, elapsed, terminal);
      lastShown = Clock::now();
    }
    auto message = client.receive(std::chrono::milliseconds(50), &error);
    if (message) {
      if (message->replyId != 0) client.reply(message->replyId, {});
      take(*message, progress);
    } else if (!error.empty()) {
      connectionLost = true;
      break;
    }
  }
  if (terminal) std::printf("\n");
  if (connectionLost) {
    std::fprintf(stderr, "quillon-engine: %s\n", error.c_str());
    return kExitNoHost;
  }

  const auto summary = callOrReport(client, options, "stopRecorder", EncodableValue());
  // Buffers produced before the stop were queued ahead of its reply.
  while (auto late = client.receive(std::chrono::milliseconds(0))) take(*late, progress);
  if (!summary) return kExitErrorReply;
  std::printf("stopRecorder: %s\n", dumpJson(valueToJson(*summary)).c_str());
  std::printf("received: %llu PCM blocks (%llu bytes), %llu Opus packets\n",
              static_cast<unsigned long long>(progress.pcmBlocks), static_cast<unsigned long long>(progress.pcmBytes),
              static_cast<unsigned long long>(progress.opusPackets));
  std::printf("wav:  %s\nopus: %s\n", wavPath.c_str(), opusPath.c_str());
  if (record.stage) {
    for (const char* name : {"mic_original.wav", "mic.wav", "speaker_original.wav", "speaker.wav"}) {
      const std::string path = folder + "/" + name;
      if (std::filesystem::exists(path, ec)) std::printf("stage: %s\n", path.c_str());
    }
  }
  std::fflush(stdout);
  return running ? kExitSuccess : kExitErrorReply;
}

}  // namespace

void addRecordCommand(CLI::App& app, const EngineCliOptions& options, int& exitCode) {
  auto record = std::make_shared<RecordOptions>();
  auto* command = app.add_subcommand("record", "Record the microphone and the system audio until Ctrl-C");
  command->add_option("--seconds", record->seconds, "Stop after this many seconds (default: at Ctrl-C)")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--dir", record->dir, "Folder for the files (default: ./recording-DATE-TIME)");
  command->add_flag("--no-mic", record->noMic, "Record the system audio only");
  command->add_flag("--stage", record->stage, "Also keep the captures' stage WAV files");
  command->add_option("--driver", record->driverPath, "Loopback driver file installed when it is missing")
      ->capture_default_str();
  command->callback([&options, &exitCode, record] { exitCode = runRecord(options, *record); });
}

}  // namespace quillon
