#include "platform/linux/glib_main_thread.h"

#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define QUILLON_TSAN_HANDOFF 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#include <sanitizer/tsan_interface.h>
#define QUILLON_TSAN_HANDOFF 1
#endif
#endif

namespace quillon {

namespace {

// GLib passes the work to the main thread under its own futex-based locks,
// which ThreadSanitizer cannot see; these mark the hand-off it does make, so
// the work posted is not reported as racing with its own construction.
void releaseToMainThread([[maybe_unused]] void* work) {
#ifdef QUILLON_TSAN_HANDOFF
  __tsan_release(work);
#endif
}

void acquireOnMainThread([[maybe_unused]] void* work) {
#ifdef QUILLON_TSAN_HANDOFF
  __tsan_acquire(work);
#endif
}

}  // namespace

GlibMainThread::GlibMainThread(GMainContext* context)
    : context_(context ? g_main_context_ref(context) : g_main_context_ref(g_main_context_default())),
      mainThreadId_(std::this_thread::get_id()) {}

GlibMainThread::~GlibMainThread() { g_main_context_unref(context_); }

void GlibMainThread::post(std::function<void()> work) {
  auto* boxed = new std::function<void()>(std::move(work));
  // An idle source at default priority keeps posts from one thread in order.
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(
      source,
      [](gpointer data) -> gboolean {
        acquireOnMainThread(data);
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      boxed, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
  releaseToMainThread(boxed);
  g_source_attach(source, context_);
  g_source_unref(source);
}

bool GlibMainThread::isMainThread() const { return std::this_thread::get_id() == mainThreadId_; }

}  // namespace quillon
