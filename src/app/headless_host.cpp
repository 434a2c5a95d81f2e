#include "app/headless_host.h"

#include <glib.h>

#include "platform/linux/glib_main_thread.h"
#include "platform/linux/logind_inhibitor.h"

namespace quillon {

namespace {

// The application without a window: a main loop that quits on request.
class HeadlessApplication final : public ApplicationControl {
 public:
  explicit HeadlessApplication(GMainLoop* loop) : loop_(loop) {}
  void terminate() override { g_main_loop_quit(loop_); }

 private:
  GMainLoop* loop_;
};

}  // namespace

int runHeadless(const HostOptions& options) {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  GlibMainThread mainThread;
  HeadlessApplication application(loop);
  LogindInhibitor inhibitor;
  auto host = HostStartup::start(options, {mainThread, inhibitor, application});
  const int status = host ? 0 : 1;
  if (host) g_main_loop_run(loop);
  host.reset();
  g_main_loop_unref(loop);
  return status;
}

}  // namespace quillon
