#pragma once

#include <gtk/gtk.h>

#include "platform/activity_inhibitor.h"

namespace quillon {

// Keeps the session from idling and the machine from suspending while the
// engine runs long work, through the desktop session's inhibitor
// (gtk_application_inhibit). The application must outlive every token.
class GtkActivityInhibitor final : public ActivityInhibitor {
 public:
  // `window` (may be null) is the window the desktop names as the reason's owner.
  GtkActivityInhibitor(GtkApplication* application, GtkWindow* window)
      : application_(application), window_(window) {}
  std::unique_ptr<ActivityToken> beginActivity(const std::string& reason) override;

 private:
  GtkApplication* application_;
  GtkWindow* window_;
};

}  // namespace quillon
