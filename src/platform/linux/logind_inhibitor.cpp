#include "platform/linux/logind_inhibitor.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include "logging/logger.h"

namespace quillon {

namespace {

constexpr const char* kTag = "host";
// The call runs on the main thread; a bus that does not answer must not hold it long.
constexpr int kCallTimeoutMs = 2000;

class LogindToken final : public ActivityToken {
 public:
  explicit LogindToken(int fd) : fd_(fd) {}
  ~LogindToken() override { ::close(fd_); }

 private:
  int fd_;
};

class InertToken final : public ActivityToken {};

}  // namespace

std::unique_ptr<ActivityToken> LogindInhibitor::beginActivity(const std::string& reason) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
  if (!bus) {
    Logger::shared().info(kTag, "background activity not inhibiting: no system bus (%s)",
                          error ? error->message : "unknown");
    g_clear_error(&error);
    return std::make_unique<InertToken>();
  }
  GUnixFDList* fds = nullptr;
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
      bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit",
      g_variant_new("(ssss)", "idle:sleep", "quillon-host", reason.c_str(), "block"), G_VARIANT_TYPE("(h)"),
      G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &fds, nullptr, &error);
  g_object_unref(bus);
  if (!reply) {
    Logger::shared().info(kTag, "background activity not inhibiting: logind refused (%s)",
                          error ? error->message : "unknown");
    g_clear_error(&error);
    if (fds) g_object_unref(fds);
    return std::make_unique<InertToken>();
  }
  gint32 index = -1;
  g_variant_get(reply, "(h)", &index);
  g_variant_unref(reply);
  int fd = fds ? g_unix_fd_list_get(fds, index, &error) : -1;
  if (fds) g_object_unref(fds);
  if (fd < 0) {
    Logger::shared().info(kTag, "background activity not inhibiting: no inhibitor lock received");
    g_clear_error(&error);
    return std::make_unique<InertToken>();
  }
  Logger::shared().info(kTag, "background activity inhibiting idle and sleep: %s", reason.c_str());
  return std::make_unique<LogindToken>(fd);
}

}  // namespace quillon
