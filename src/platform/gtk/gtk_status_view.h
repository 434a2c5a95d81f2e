#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

#include "app/host_status.h"

namespace quillon {

// The page the main window shows while no engine view fills it: what the
// host is doing, in plain labels and level bars that a screen reader can
// read. About ten times a second it takes a fresh reading, on the main
// thread, and updates the labels, the window title and, when a recording
// starts or stops, the application's notification.
class GtkStatusView {
 public:
  GtkStatusView(GtkApplication* application, GtkWindow* window, std::function<HostStatus()> read);
  ~GtkStatusView();
  GtkStatusView(const GtkStatusView&) = delete;
  GtkStatusView& operator=(const GtkStatusView&) = delete;

  GtkWidget* widget() const { return root_; }
  // Takes a reading now; the timer calls it too.
  void refresh();

 private:
  static gboolean onTick(gpointer self);
  GtkWidget* addHeading(const char* text);
  // A caption and the widget it labels, on one row of the grid.
  void addRow(const char* caption, GtkWidget* value);
  GtkWidget* addValueRow(const char* caption);
  GtkWidget* addLevelRow(const char* caption, const char* accessibleName);
  void showPorts(const std::vector<std::string>& texts);
  void notify(const std::string& title, const std::string& body);

  GtkApplication* application_;
  GtkWindow* window_;
  std::function<HostStatus()> read_;
  GtkWidget* root_ = nullptr;
  GtkWidget* grid_ = nullptr;
  int rows_ = 0;
  guint timer_ = 0;

  GtkWidget* engine_ = nullptr;
  GtkWidget* socket_ = nullptr;
  GtkWidget* recording_ = nullptr;
  GtkWidget* elapsed_ = nullptr;
  GtkWidget* sources_ = nullptr;
  GtkWidget* microphoneLevel_ = nullptr;
  GtkWidget* systemAudioLevel_ = nullptr;
  GtkWidget* folder_ = nullptr;
  GtkWidget* wavFile_ = nullptr;
  GtkWidget* opusFile_ = nullptr;
  GtkWidget* ports_ = nullptr;
  GtkWidget* logging_ = nullptr;
  GtkWidget* logFolder_ = nullptr;

  HostStatus last_;
  std::vector<std::string> portTexts_;
  bool portsShown_ = false;
  std::string title_;
};

}  // namespace quillon
