#include "platform/gtk/gtk_about_panel.h"

#include "logging/logger.h"

namespace quillon {

namespace {

void setFont(GtkLabel* label, int points, bool bold) {
  PangoAttrList* attributes = pango_attr_list_new();
  pango_attr_list_insert(attributes, pango_attr_size_new(points * PANGO_SCALE));
  if (bold) pango_attr_list_insert(attributes, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
  gtk_label_set_attributes(label, attributes);
  pango_attr_list_unref(attributes);
}

GtkWidget* centredLabel(const std::string& text, int points, bool bold) {
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0.5f);
  gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
  setFont(GTK_LABEL(label), points, bold);
  return label;
}

void place(GtkFixed* fixed, GtkWidget* child, const Rect& frame) {
  gtk_widget_set_size_request(child, frame.width, frame.height);
  gtk_fixed_put(fixed, child, frame.x, frame.y);
}

}  // namespace

GtkWidget* showGtkAboutPanel(const AboutPanelContent& content) {
  GtkWidget* panel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(panel);
  gtk_window_set_title(window, content.appName.c_str());
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_default_size(window, kAboutPanelWidth, kAboutPanelHeight);
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_keep_above(window, TRUE);
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);

  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, kAboutPanelWidth, kAboutPanelHeight);
  gtk_container_add(GTK_CONTAINER(panel), fixed);

  GdkPixbuf* icon = nullptr;
  if (!content.iconPath.empty()) {
    GError* error = nullptr;
    // Scaled to fit 56 × 56, keeping its proportions.
    icon = gdk_pixbuf_new_from_file_at_scale(content.iconPath.c_str(), kAboutIconSize, kAboutIconSize, TRUE, &error);
    if (!icon) {
      Logger::shared().warning("native_application_factory", "About panel icon %s not loaded: %s",
                               content.iconPath.c_str(), error ? error->message : "unknown error");
      g_clear_error(&error);
    }
  }

  const AboutPanelLayout layout = aboutPanelLayout(kAboutPanelWidth, kAboutPanelHeight, icon != nullptr);
  if (icon) {
    place(GTK_FIXED(fixed), gtk_image_new_from_pixbuf(icon), *layout.icon);
    g_object_unref(icon);
  }
  place(GTK_FIXED(fixed), centredLabel(content.appName, 16, true), layout.name);
  place(GTK_FIXED(fixed), centredLabel(aboutVersionLine(content.version), 13, false), layout.version);

  GtkWidget* copyright = centredLabel(content.copyrightText, 12, false);
  GtkLabel* copyrightLabel = GTK_LABEL(copyright);
  gtk_label_set_line_wrap(copyrightLabel, TRUE);
  gtk_label_set_line_wrap_mode(copyrightLabel, PANGO_WRAP_WORD);
  // GTK cuts a wrapped label to a number of lines only when it may ellipsize.
  gtk_label_set_lines(copyrightLabel, kAboutCopyrightMaxLines);
  gtk_label_set_ellipsize(copyrightLabel, PANGO_ELLIPSIZE_END);
  // Without a small natural width the label would ask for its whole text on one line.
  gtk_label_set_max_width_chars(copyrightLabel, 1);
  gtk_label_set_yalign(copyrightLabel, 0.0f);
  place(GTK_FIXED(fixed), copyright, layout.copyright);

  gtk_widget_show_all(panel);
  gtk_window_present(window);
  return panel;
}

}  // namespace quillon
