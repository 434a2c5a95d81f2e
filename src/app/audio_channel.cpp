#include <limits>

#include "app/call_arguments.h"
#include "app/main_flutter_window.h"
#include "capture/device_util.h"
#include "logging/logger.h"
#include "recording/audio_util.h"
#include "recording/native_audio_factory.h"

namespace quillon {

namespace {

EncodableValue summaryValue(const CloseSummary& summary) {
  return EncodableMap{{EncodableValue("success"), EncodableValue(summary.success)},
                      {EncodableValue("duration"), EncodableValue(summary.duration)},
                      {EncodableValue("size"), EncodableValue(summary.size)}};
}

EncodableValue integerValue(int64_t number) {
  if (number >= std::numeric_limits<int32_t>::min() && number <= std::numeric_limits<int32_t>::max()) {
    return EncodableValue(static_cast<int32_t>(number));
  }
  return EncodableValue(number);
}

// A callback for the audio thread: it only queues the send on the main thread,
// whose tasks run in posting order, so the engine gets the buffers in order.
AudioCallback forwardToEngine(MainThread& mainThread, std::shared_ptr<MethodChannel> channel, std::string method) {
  return [&mainThread, channel = std::move(channel), method = std::move(method)](const ByteBuffer& buffer) {
    mainThread.post([channel, method, buffer] { channel->invokeMethod(method, EncodableValue(buffer.bytes())); });
  };
}

void handleInit(MainFlutterWindow& window, const std::shared_ptr<MethodChannel>& channel, const CallArguments& args,
                MethodResult& result) {
  const auto blackHolePath = args.string("blackHolePath");
  const auto reserveStageAudio = args.boolean("reserveStageAudio");
  if (!blackHolePath || !reserveStageAudio) {
    result.error("INVALID_ARGS", "Missing paths");
    return;
  }
  // The replaced facade finishes a recording it still runs (output device put
  // back, files completed) before the new one may install the driver.
  window.nativeAudioFactory.reset();
  const auto& environment = window.environment();
  window.nativeAudioFactory =
      environment.makeNativeAudioFactory
          ? environment.makeNativeAudioFactory(*blackHolePath, *reserveStageAudio)
          : std::make_shared<NativeAudioFactory>(
                *blackHolePath, *reserveStageAudio,
                // The window's environment outlives the window and so every capture.
                NativeAudioFactory::productionDependencies(
                    environment.audioServer,
                    std::shared_ptr<MainThread>(std::shared_ptr<void>(), &environment.mainThread)));
  window.nativeAudioFactory->setPcmCallback(forwardToEngine(environment.mainThread, channel, "onPcmData"));
  window.nativeAudioFactory->setOpusCallback(forwardToEngine(environment.mainThread, channel, "onOpusData"));
  result.success(true);
}

void handleStart(NativeAudioFactory* facade, const CallArguments& args, MethodResult& result) {
  const auto recorderMic = args.boolean("recorderMic");
  const auto recorderPath = args.string("recorderPath");
  const auto wavFilePath = args.string("wavFilePath");
  const auto opusFilePath = args.string("opusFilePath");
  if (!recorderMic || !recorderPath || !wavFilePath || !opusFilePath) {
    result.error("INVALID_ARGUMENTS", "缺少参数");
    return;
  }
  result.success(facade ? facade->startRecorder(*recorderMic, *recorderPath, *wavFilePath, *opusFilePath) : false);
}

void handleGetWavDuration(const CallArguments& args, MethodResult& result) {
  const auto path = args.string("path");
  if (!path) {
    result.error("INVALID_ARGUMENTS", "Missing 'path'");
    return;
  }
  const int64_t duration = AudioUtil::getWavDuration(*path);
  if (duration < 0) {
    result.error("INVALID_FILE", "Failed to get duration");
    return;
  }
  result.success(integerValue(duration));
}

void handleAudioCall(MainFlutterWindow& window, const std::shared_ptr<MethodChannel>& channel, const MethodCall& call,
                     MethodResult& result) {
  const CallArguments args(call.arguments);
  NativeAudioFactory* facade = window.nativeAudioFactory.get();
  const std::string& method = call.method;
  if (method == "init") {
    handleInit(window, channel, args, result);
  } else if (method == "startRecorder") {
    handleStart(facade, args, result);
  } else if (method == "switchMicRecorder") {
    const auto recorderMic = args.boolean("recorderMic");
    result.success(facade && recorderMic ? facade->switchMicRecorder(*recorderMic) : false);
  } else if (method == "pauseRecorder") {
    result.success(facade ? facade->pauseRecorder() : false);
  } else if (method == "resumeRecorder") {
    result.success(facade ? facade->resumeRecorder() : false);
  } else if (method == "stopRecorder") {
    Logger::shared().infoWithTag("native_factory", "stopRecorder...");
    result.success(summaryValue(facade ? facade->stopRecorder() : CloseSummary{}));
  } else if (method == "getWavDuration") {
    handleGetWavDuration(args, result);
  } else if (method == "checkMicActive") {
    const auto& server = window.environment().audioServer;
    result.success(server ? DeviceUtil::microphoneIsActive(*server) : false);
  } else {
    result.notImplemented();
  }
}

}  // namespace

void MainFlutterWindow::registerAudioMethodChannel() {
  auto channel = std::make_shared<MethodChannel>(environment_.messenger, "native_audio_factory");
  std::weak_ptr<MainFlutterWindow> weakWindow = weak_from_this();
  channel->setMethodCallHandler([weakWindow, channel](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    auto window = weakWindow.lock();
    if (!window) {
      replyInstanceNotAvailable(*result);
      return;
    }
    handleAudioCall(*window, channel, call, *result);
  });
}

}  // namespace quillon
