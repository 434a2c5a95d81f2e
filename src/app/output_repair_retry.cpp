#include "app/output_repair_retry.h"

#include <filesystem>

#include "capture/output_device_state_file.h"
#include "capture/speaker_capture.h"

namespace quillon {

namespace {

gboolean retryRepair(gpointer server) {
  std::error_code ec;
  const OutputDeviceStateFile stateFile;
  // Without a state file nothing is pending: no server round trip at all. A
  // recording that holds the output (here or in another host) is skipped
  // quietly, not logged every two seconds.
  if (std::filesystem::exists(stateFile.path(), ec) && !stateFile.outputHeld()) {
    SpeakerCapture::restoreOutputLeftOnLoopback(*static_cast<AudioServer*>(server));
  }
  return G_SOURCE_CONTINUE;
}

}  // namespace

OutputRepairRetry::OutputRepairRetry(std::shared_ptr<AudioServer> server)
    : server_(std::move(server)), source_(g_timeout_add_seconds(2, retryRepair, server_.get())) {}

OutputRepairRetry::~OutputRepairRetry() {
  if (source_ != 0) g_source_remove(source_);
}

}  // namespace quillon
