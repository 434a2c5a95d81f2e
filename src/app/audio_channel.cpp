#include "app/audio_channel.h"

#include <limits>

#include "app/call_arguments.h"
#include "capture/device_util.h"
#include "logging/logger.h"
#include "recording/audio_util.h"

namespace quillon {

namespace {

constexpr const char* kChannel = "native_audio_factory";

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

}  // namespace

AudioChannel::AudioChannel(BinaryMessenger& messenger, MainThread& mainThread, FacadeMaker makeFacade,
                           std::shared_ptr<AudioServer> audioServer)
    : messenger_(messenger),
      mainThread_(mainThread),
      makeFacade_(std::move(makeFacade)),
      audioServer_(std::move(audioServer)),
      registration_(messenger, kChannel,
                    [this](const MethodCall& call, MethodResult& result) { handle(call, result); }) {}

void AudioChannel::init(const std::string& blackHolePath, bool reserveStageAudio) {
  // The replaced facade finishes a recording it still runs (output device put
  // back, files completed) before the new one may install the driver.
  nativeAudioFactory_.reset();
  nativeAudioFactory_ = makeFacade_(blackHolePath, reserveStageAudio);
  // The stream holds a channel object of its own: buffers still waiting when
  // this channel goes reach the engine all the same.
  toEngine_ = std::make_shared<EngineAudioStream>(std::make_shared<MethodChannel>(messenger_, kChannel), mainThread_);
  nativeAudioFactory_->setPcmCallback(toEngine_->sender("onPcmData"));
  nativeAudioFactory_->setOpusCallback(toEngine_->sender("onOpusData"));
}

void AudioChannel::handle(const MethodCall& call, MethodResult& result) {
  const CallArguments args(call.arguments);
  NativeAudioFactory* facade = nativeAudioFactory_.get();
  const std::string& method = call.method;
  if (method == "init") {
    const auto blackHolePath = args.string("blackHolePath");
    const auto reserveStageAudio = args.boolean("reserveStageAudio");
    if (!blackHolePath || !reserveStageAudio) {
      result.error("INVALID_ARGS", "Missing paths");
      return;
    }
    init(*blackHolePath, *reserveStageAudio);
    result.success(true);
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
    const CloseSummary summary = facade ? facade->stopRecorder() : CloseSummary{};
    // The blocks the stop itself produced go out before its reply.
    if (toEngine_) toEngine_->flush();
    result.success(summaryValue(summary));
  } else if (method == "getWavDuration") {
    handleGetWavDuration(args, result);
  } else if (method == "checkMicActive") {
    result.success(audioServer_ ? DeviceUtil::microphoneIsActive(*audioServer_) : false);
  } else {
    result.notImplemented();
  }
}

}  // namespace quillon
