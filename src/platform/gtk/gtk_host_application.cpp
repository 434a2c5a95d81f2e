#include "platform/gtk/gtk_host_application.h"

#include "platform/linux/resource_path.h"

namespace quillon {

namespace {
constexpr const char* kIconName = "org.quillon.Host";
}  // namespace

GtkHostApplication::GtkHostApplication(const std::string& applicationId, Hooks hooks)
    : application_(gtk_application_new(applicationId.c_str(), G_APPLICATION_DEFAULT_FLAGS)),
      hooks_(std::move(hooks)) {
  g_signal_connect(application_, "startup", G_CALLBACK(onStartup), this);
  g_signal_connect(application_, "activate", G_CALLBACK(onActivate), this);
  g_signal_connect(application_, "shutdown", G_CALLBACK(onShutdown), this);
}

GtkHostApplication::~GtkHostApplication() {
  g_signal_handlers_disconnect_by_data(application_, this);
  g_object_unref(application_);
}

int GtkHostApplication::run(const char* programName) {
  // The program's own options were read before; GApplication sees none.
  char* argv[] = {const_cast<char*>(programName), nullptr};
  return g_application_run(G_APPLICATION(application_), 1, argv);
}

void GtkHostApplication::terminate() { g_application_quit(G_APPLICATION(application_)); }

void GtkHostApplication::addActions(std::span<const std::string_view> names,
                                    std::function<void(std::string_view name)> perform) {
  perform_ = std::move(perform);
  for (std::string_view name : names) {
    GSimpleAction* action = g_simple_action_new(std::string(name).c_str(), nullptr);
    g_signal_connect(action, "activate", G_CALLBACK(onAction), this);
    g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(action));
    g_object_unref(action);
  }
}

void GtkHostApplication::onStartup(GApplication*, gpointer data) {
  auto* self = static_cast<GtkHostApplication*>(data);
  gtk_window_set_default_icon_name(kIconName);
  if (self->hooks_.startup) self->hooks_.startup();
}

void GtkHostApplication::onActivate(GApplication*, gpointer data) {
  // Emitted at the first launch and at every later launch of the program,
  // which GApplication forwards here.
  auto* self = static_cast<GtkHostApplication*>(data);
  if (self->hooks_.activate) self->hooks_.activate();
}

void GtkHostApplication::onShutdown(GApplication*, gpointer data) {
  auto* self = static_cast<GtkHostApplication*>(data);
  if (self->hooks_.shutdown) self->hooks_.shutdown();
}

void GtkHostApplication::onAction(GSimpleAction* action, GVariant*, gpointer data) {
  auto* self = static_cast<GtkHostApplication*>(data);
  if (self->perform_) self->perform_(g_action_get_name(G_ACTION(action)));
}

std::string findApplicationIcon() {
  const std::string relative = "icons/hicolor/256x256/apps/" + std::string(kIconName) + ".png";
  return resourcePath(relative, relative);
}

}  // namespace quillon
