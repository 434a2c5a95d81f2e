#include "platform/linux/glib_main_thread.h"

#include <utility>

namespace quillon {

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
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      boxed, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
  g_source_attach(source, context_);
  g_source_unref(source);
}

bool GlibMainThread::isMainThread() const { return std::this_thread::get_id() == mainThreadId_; }

}  // namespace quillon
