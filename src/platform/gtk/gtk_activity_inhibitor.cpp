#include "platform/gtk/gtk_activity_inhibitor.h"

#include "logging/logger.h"

namespace quillon {

namespace {

constexpr const char* kTag = "background_activity_factory";

class GtkInhibitToken final : public ActivityToken {
 public:
  GtkInhibitToken(GtkApplication* application, guint cookie) : application_(application), cookie_(cookie) {
    g_object_ref(application_);
  }
  ~GtkInhibitToken() override {
    if (cookie_ != 0) gtk_application_uninhibit(application_, cookie_);
    g_object_unref(application_);
  }

 private:
  GtkApplication* application_;
  guint cookie_;
};

}  // namespace

std::unique_ptr<ActivityToken> GtkActivityInhibitor::beginActivity(const std::string& reason) {
  const guint cookie = gtk_application_inhibit(
      application_, window_, static_cast<GtkApplicationInhibitFlags>(GTK_APPLICATION_INHIBIT_IDLE | GTK_APPLICATION_INHIBIT_SUSPEND),
      reason.c_str());
  if (cookie == 0) {
    // No session manager answered (a bare X session, a test bus): the token
    // holds nothing, and the engine is not told, as with any other platform
    // that offers no inhibitor.
    Logger::shared().warning(kTag, "no session inhibitor available; \"%s\" does not keep the system awake",
                             reason.c_str());
  }
  return std::make_unique<GtkInhibitToken>(application_, cookie);
}

}  // namespace quillon
