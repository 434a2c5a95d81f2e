#include "platform/gtk/gtk_host_application.h"

#include <unistd.h>

#include "app/app_texts.h"
#include "app/application_menu.h"
#include "platform/linux/resource_path.h"

namespace quillon {

namespace {

constexpr const char* kIconName = "org.quillon.Host";

void activateAction(GSimpleAction* action, GVariant*, gpointer self) {
  static_cast<GtkHostApplication*>(self)->delegate().performAction(g_action_get_name(G_ACTION(action)));
}

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

void GtkHostApplication::onStartup(GApplication*, gpointer data) {
  auto* self = static_cast<GtkHostApplication*>(data);
  gtk_window_set_default_icon_name(kIconName);
  self->shell_ = std::make_unique<GtkDesktopShell>(self->application_,
                                                   [self] { return self->delegate_->windowShouldClose(); });
  self->delegate_ = std::make_unique<AppDelegate>(*self->shell_);
  self->shell_->setIconPath(findApplicationIcon());
  self->shell_->createMainWindow(appTexts().applicationName);
  if (self->hooks_.started) self->hooks_.started(*self);
  self->addActions();
  self->delegate_->applicationDidFinishLaunching();
}

void GtkHostApplication::onActivate(GApplication*, gpointer data) {
  // Emitted at the first launch and at every later launch of the program,
  // which GApplication forwards here.
  static_cast<GtkHostApplication*>(data)->delegate_->applicationDidBecomeActive();
}

void GtkHostApplication::onShutdown(GApplication*, gpointer data) {
  auto* self = static_cast<GtkHostApplication*>(data);
  if (self->hooks_.stopping) self->hooks_.stopping(*self);
  self->delegate_.reset();
  self->shell_.reset();
}

void GtkHostApplication::addActions() {
  for (std::string_view name : kApplicationActions) {
    GSimpleAction* action = g_simple_action_new(std::string(name).c_str(), nullptr);
    g_signal_connect(action, "activate", G_CALLBACK(activateAction), this);
    g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(action));
    g_object_unref(action);
  }
}

std::string findApplicationIcon() {
  const std::string relative = "icons/hicolor/256x256/apps/" + std::string(kIconName) + ".png";
  return resourcePath(relative, relative);
}

}  // namespace quillon
