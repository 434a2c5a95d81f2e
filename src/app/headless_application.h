#pragma once

#include <glib.h>

#include "platform/application_control.h"

namespace quillon {

// The application without a window: a GLib main loop that quits on request.
class HeadlessApplication final : public ApplicationControl {
 public:
  explicit HeadlessApplication(GMainLoop* loop) : loop_(loop) {}
  void terminate() override { g_main_loop_quit(loop_); }

 private:
  GMainLoop* loop_;
};

}  // namespace quillon
