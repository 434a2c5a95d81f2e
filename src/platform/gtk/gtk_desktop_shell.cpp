#include "platform/gtk/gtk_desktop_shell.h"

#include <algorithm>

#include "engine/binary_messenger.h"
#include "platform/gtk/gtk_about_panel.h"

namespace quillon {

namespace {
constexpr const char* kStatusPage = "status";
constexpr const char* kEngineView = "engine";
}  // namespace

GtkDesktopShell::GtkDesktopShell(GtkApplication* application, std::function<bool()> closeRequested)
    : application_(application), closeRequested_(std::move(closeRequested)) {}

GtkDesktopShell::~GtkDesktopShell() {
  if (mainWindow_) {
    g_signal_handlers_disconnect_by_data(mainWindow_, this);
    gtk_widget_destroy(GTK_WIDGET(mainWindow_));
  }
}

void GtkDesktopShell::createMainWindow(const std::string& title) {
  GtkWidget* window = gtk_application_window_new(application_);
  mainWindow_ = GTK_WINDOW(window);

  // The content reaches the top edge: the title bar is the window's own
  // header bar, which shows the window buttons but no title.
  headerBar_ = gtk_header_bar_new();
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(headerBar_), TRUE);
  gtk_header_bar_set_custom_title(GTK_HEADER_BAR(headerBar_), gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0));
  gtk_window_set_titlebar(mainWindow_, headerBar_);
  gtk_window_set_title(mainWindow_, title.c_str());

  // The content area holds the status page and, once one is attached, the
  // engine's view, which then covers it.
  content_ = gtk_stack_new();
  gtk_container_add(GTK_CONTAINER(window), content_);
  gtk_widget_show(content_);
  gtk_widget_show_all(headerBar_);

  g_signal_connect(window, "delete-event", G_CALLBACK(onDeleteEvent), this);
  dropUnseenMargins();
}

void GtkDesktopShell::dropUnseenMargins() {
  // Where no compositor runs, GTK paints the resize margins around a window
  // with a header bar as a solid frame ("solid-csd"), making the window the
  // user sees larger than the size it was given. Without that frame the
  // window on screen is exactly its size; with a compositor the margins are
  // an invisible shadow and this rule does not apply.
  static const char kCss[] =
      "window.quillon-main-window.solid-csd,"
      "window.quillon-main-window.solid-csd decoration {"
      "  margin: 0; padding: 0; border-width: 0; box-shadow: none; }";
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, kCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(GTK_WIDGET(mainWindow_)),
                                            GTK_STYLE_PROVIDER(provider),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
  gtk_style_context_add_class(gtk_widget_get_style_context(GTK_WIDGET(mainWindow_)), "quillon-main-window");
}

void GtkDesktopShell::setStatusPage(GtkWidget* page) {
  if (!content_) return;
  gtk_stack_add_named(GTK_STACK(content_), page, kStatusPage);
  if (!engineView_) gtk_stack_set_visible_child(GTK_STACK(content_), page);
}

void GtkDesktopShell::attachEngineView(GtkWidget* view) {
  if (!content_ || engineView_) return;
  engineView_ = view;
  gtk_stack_add_named(GTK_STACK(content_), view, kEngineView);
  gtk_widget_show(view);
  gtk_stack_set_visible_child(GTK_STACK(content_), view);
}

void GtkDesktopShell::detachEngineView() {
  if (!engineView_) return;
  gtk_container_remove(GTK_CONTAINER(content_), engineView_);
  engineView_ = nullptr;
  if (GtkWidget* page = gtk_stack_get_child_by_name(GTK_STACK(content_), kStatusPage)) {
    gtk_stack_set_visible_child(GTK_STACK(content_), page);
  }
}

gboolean GtkDesktopShell::onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
  auto* shell = static_cast<GtkDesktopShell*>(self);
  // TRUE stops the default handler, which would destroy the window.
  return shell->closeRequested_ && !shell->closeRequested_() ? TRUE : FALSE;
}

std::optional<Rect> GtkDesktopShell::visibleScreenArea() const {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return std::nullopt;
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return std::nullopt;
  GdkRectangle area{};
  gdk_monitor_get_workarea(monitor, &area);
  return Rect{area.x, area.y, area.width, area.height};
}

int GtkDesktopShell::headerBarHeight() const {
  int minimum = 0, natural = 0;
  gtk_widget_get_preferred_height(headerBar_, &minimum, &natural);
  return natural;
}

void GtkDesktopShell::setMainWindowFrame(const Rect& frame) {
  if (!mainWindow_) return;
  // GTK sizes a window with a header bar by the area below the bar, and
  // places it by its visible frame (its resize margins lie outside). The
  // frame, header bar included, is what must have the requested size, which
  // is also the smallest the user may make it.
  const int contentHeight = std::max(1, frame.height - headerBarHeight());
  GdkGeometry hints{};
  hints.min_width = frame.width;
  hints.min_height = contentHeight;
  gtk_window_set_geometry_hints(mainWindow_, nullptr, &hints, GDK_HINT_MIN_SIZE);
  gtk_window_set_default_size(mainWindow_, frame.width, contentHeight);
  gtk_window_resize(mainWindow_, frame.width, contentHeight);
  gtk_window_move(mainWindow_, frame.x, frame.y);
}

void GtkDesktopShell::presentMainWindow() {
  if (!mainWindow_) return;
  gtk_widget_show(GTK_WIDGET(mainWindow_));
  gtk_window_present_with_time(mainWindow_, gtk_get_current_event_time());
}

void GtkDesktopShell::hideMainWindow() {
  if (mainWindow_) gtk_widget_hide(GTK_WIDGET(mainWindow_));
}

void GtkDesktopShell::installMenu(const ApplicationMenu& menu) {
  GMenu* items = g_menu_new();
  for (const MenuEntry& entry : menu.items) g_menu_append(items, entry.label.c_str(), entry.action.c_str());
  GMenu* bar = g_menu_new();
  g_menu_append_submenu(bar, menu.title.c_str(), G_MENU_MODEL(items));
  gtk_application_set_menubar(application_, G_MENU_MODEL(bar));
  g_object_unref(items);
  g_object_unref(bar);
}

void GtkDesktopShell::showAboutPanel(const AboutPanelContent& content) { showGtkAboutPanel(content); }

void GtkDesktopShell::quit() { g_application_quit(G_APPLICATION(application_)); }

BinaryMessenger* GtkDesktopShell::engineMessenger() {
  if (!mainWindow_ || !messenger_ || !messenger_->engineConnected()) return nullptr;
  return messenger_;
}

}  // namespace quillon
