#pragma once

#include "app/engine_audio_stream.h"

#include <functional>
#include <memory>
#include <string>

#include "app/channel_registration.h"
#include "platform/audio_server.h"
#include "platform/main_thread.h"
#include "recording/native_audio_factory.h"

namespace quillon {

// "native_audio_factory": runs recordings through the recording facade it
// owns (made anew by each "init"), streams their PCM blocks and Opus packets
// to the engine as "onPcmData" and "onOpusData", and answers the two queries
// that need no facade ("getWavDuration", "checkMicActive").
class AudioChannel {
 public:
  using FacadeMaker =
      std::function<std::unique_ptr<NativeAudioFactory>(const std::string& blackHolePath, bool reserveStageAudio)>;

  // `mainThread` carries the buffers to the engine; it and the messenger must
  // outlive every facade and every buffer posted. `audioServer` answers
  // "checkMicActive" (null: no microphone is in use).
  AudioChannel(BinaryMessenger& messenger, MainThread& mainThread, FacadeMaker makeFacade,
               std::shared_ptr<AudioServer> audioServer = nullptr);

  // The facade of the last "init"; null before the first.
  const NativeAudioFactory* nativeAudioFactory() const { return nativeAudioFactory_.get(); }

 private:
  void handle(const MethodCall& call, MethodResult& result);
  void init(const std::string& blackHolePath, bool reserveStageAudio);

  BinaryMessenger& messenger_;
  MainThread& mainThread_;
  FacadeMaker makeFacade_;
  std::shared_ptr<AudioServer> audioServer_;
  std::unique_ptr<NativeAudioFactory> nativeAudioFactory_;
  std::shared_ptr<EngineAudioStream> toEngine_;
  ChannelRegistration registration_;
};

}  // namespace quillon
