#include "app/main_flutter_window.h"

namespace quillon {

void MainFlutterWindow::registerAudioMethodChannel() {
  auto channel = std::make_shared<MethodChannel>(environment_.messenger, "native_audio_factory");
  std::weak_ptr<MainFlutterWindow> weakWindow = weak_from_this();
  // The recording commands arrive with the recording facade; until then every
  // command answers not implemented.
  channel->setMethodCallHandler([weakWindow](const MethodCall&, std::unique_ptr<MethodResult> result) {
    if (!weakWindow.lock()) {
      replyInstanceNotAvailable(*result);
      return;
    }
    result->notImplemented();
  });
}

}  // namespace quillon
