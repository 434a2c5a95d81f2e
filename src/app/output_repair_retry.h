#pragma once

#include <glib.h>

#include <memory>

#include "platform/audio_server.h"

namespace quillon {

// An output left on the loopback device is mended at start-up, but the sound
// server may be away at that moment, or die in the middle of a recording so
// that the stop cannot switch back. As long as the saved state says an output
// is still to be put back, the repair is tried again every two seconds on the
// main loop, so the user gets their sound back once the server returns.
// The repair itself leaves a recording of this or another process alone.
class OutputRepairRetry {
 public:
  explicit OutputRepairRetry(std::shared_ptr<AudioServer> server);
  ~OutputRepairRetry();
  OutputRepairRetry(const OutputRepairRetry&) = delete;
  OutputRepairRetry& operator=(const OutputRepairRetry&) = delete;

 private:
  std::shared_ptr<AudioServer> server_;
  guint source_ = 0;
};

}  // namespace quillon
