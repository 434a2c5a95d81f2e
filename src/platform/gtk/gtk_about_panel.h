#pragma once

#include <gtk/gtk.h>

#include "app/about_panel.h"

namespace quillon {

// Builds and shows a new About panel: 420 × 240, fixed size, kept above other
// windows, centred on the screen. The host keeps no reference: closing the
// panel destroys it. Returns the panel (for tests), owned by GTK.
GtkWidget* showGtkAboutPanel(const AboutPanelContent& content);

}  // namespace quillon
