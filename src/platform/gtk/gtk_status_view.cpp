#include "platform/gtk/gtk_status_view.h"

#include "app/app_texts.h"
#include "app/status_texts.h"

namespace quillon {

namespace {

constexpr guint kRefreshMs = 100;
constexpr const char* kNotificationId = "recording";
constexpr const char* kNone = "—";

void setText(GtkWidget* label, const std::string& text) {
  if (text != gtk_label_get_text(GTK_LABEL(label))) gtk_label_set_text(GTK_LABEL(label), text.c_str());
}

GtkWidget* valueLabel() {
  GtkWidget* label = gtk_label_new(kNone);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
  gtk_widget_set_hexpand(label, TRUE);
  return label;
}

}  // namespace

GtkStatusView::GtkStatusView(GtkApplication* application, GtkWindow* window, std::function<HostStatus()> read)
    : application_(application), window_(window), read_(std::move(read)) {
  grid_ = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid_), 8);
  gtk_grid_set_column_spacing(GTK_GRID(grid_), 16);
  gtk_widget_set_halign(grid_, GTK_ALIGN_CENTER);
  gtk_widget_set_size_request(grid_, 640, -1);

  addHeading("Engine");
  engine_ = addValueRow("Connection");
  socket_ = addValueRow("Socket");
  addHeading("Recording");
  recording_ = addValueRow("Status");
  elapsed_ = addValueRow("Elapsed");
  sources_ = addValueRow("Sources");
  microphoneLevel_ = addLevelRow("Microphone", "Microphone level");
  systemAudioLevel_ = addLevelRow("System audio", "System audio level");
  folder_ = addValueRow("Folder");
  wavFile_ = addValueRow("WAV file");
  opusFile_ = addValueRow("Opus file");
  addHeading("Serial ports");
  ports_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  addRow("Ports", ports_);
  addHeading("Day log");
  logging_ = addValueRow("Logging");
  logFolder_ = addValueRow("Log folder");

  root_ = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(root_), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_widget_set_margin_top(grid_, 24);
  gtk_widget_set_margin_bottom(grid_, 24);
  gtk_container_add(GTK_CONTAINER(root_), grid_);
  // The view outlives its place in the window: whoever destroys first, the
  // widgets stay valid until this object goes.
  g_object_ref_sink(root_);
  gtk_widget_show_all(root_);

  refresh();
  timer_ = g_timeout_add(kRefreshMs, onTick, this);
}

GtkStatusView::~GtkStatusView() {
  if (timer_ != 0) g_source_remove(timer_);
  g_object_unref(root_);
}

GtkWidget* GtkStatusView::addHeading(const char* text) {
  GtkWidget* heading = gtk_label_new(nullptr);
  char* markup = g_markup_printf_escaped("<b>%s</b>", text);
  gtk_label_set_markup(GTK_LABEL(heading), markup);
  g_free(markup);
  gtk_label_set_xalign(GTK_LABEL(heading), 0.0f);
  if (rows_ > 0) gtk_widget_set_margin_top(heading, 16);
  gtk_grid_attach(GTK_GRID(grid_), heading, 0, rows_++, 2, 1);
  return heading;
}

void GtkStatusView::addRow(const char* caption, GtkWidget* value) {
  GtkWidget* label = gtk_label_new(caption);
  gtk_label_set_xalign(GTK_LABEL(label), 1.0f);
  gtk_widget_set_valign(label, GTK_ALIGN_START);
  gtk_style_context_add_class(gtk_widget_get_style_context(label), "dim-label");
  // Makes the caption the value's label for assistive technologies. GTK
  // derives the relation from the mnemonic widget for most widgets but not
  // for a plain box, so it is also set outright.
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), value);
  atk_object_add_relationship(gtk_widget_get_accessible(value), ATK_RELATION_LABELLED_BY,
                              gtk_widget_get_accessible(label));
  gtk_grid_attach(GTK_GRID(grid_), label, 0, rows_, 1, 1);
  gtk_grid_attach(GTK_GRID(grid_), value, 1, rows_++, 1, 1);
}

GtkWidget* GtkStatusView::addValueRow(const char* caption) {
  GtkWidget* value = valueLabel();
  addRow(caption, value);
  return value;
}

GtkWidget* GtkStatusView::addLevelRow(const char* caption, const char* accessibleName) {
  GtkWidget* bar = gtk_level_bar_new_for_interval(0.0, 1.0);
  // The stock offsets colour a quiet source as a warning; a meter has no
  // wrong level, so it keeps one colour.
  gtk_level_bar_remove_offset_value(GTK_LEVEL_BAR(bar), GTK_LEVEL_BAR_OFFSET_LOW);
  gtk_level_bar_remove_offset_value(GTK_LEVEL_BAR(bar), GTK_LEVEL_BAR_OFFSET_HIGH);
  gtk_widget_set_valign(bar, GTK_ALIGN_CENTER);
  atk_object_set_name(gtk_widget_get_accessible(bar), accessibleName);
  addRow(caption, bar);
  return bar;
}

void GtkStatusView::showPorts(const std::vector<std::string>& texts) {
  if (portsShown_ && texts == portTexts_) return;
  portsShown_ = true;
  portTexts_ = texts;
  gtk_container_foreach(
      GTK_CONTAINER(ports_), [](GtkWidget* child, gpointer) { gtk_widget_destroy(child); }, nullptr);
  const std::vector<std::string> lines = texts.empty() ? std::vector<std::string>{"No serial ports"} : texts;
  for (const std::string& line : lines) {
    GtkWidget* label = valueLabel();
    gtk_label_set_text(GTK_LABEL(label), line.c_str());
    gtk_container_add(GTK_CONTAINER(ports_), label);
  }
  gtk_widget_show_all(ports_);
}

void GtkStatusView::notify(const std::string& title, const std::string& body) {
  GNotification* notification = g_notification_new(title.c_str());
  g_notification_set_body(notification, body.c_str());
  // One notice per recording: the stop replaces the start.
  g_application_send_notification(G_APPLICATION(application_), kNotificationId, notification);
  g_object_unref(notification);
}

gboolean GtkStatusView::onTick(gpointer self) {
  static_cast<GtkStatusView*>(self)->refresh();
  return G_SOURCE_CONTINUE;
}

void GtkStatusView::refresh() {
  const HostStatus status = read_();
  const std::string& name = appTexts().applicationName;

  setText(engine_, engineText(status));
  setText(socket_, status.socketPath);
  setText(recording_, recordingText(status));
  setText(elapsed_, status.recording ? elapsedText(status.elapsed) : kNone);
  setText(sources_, sourcesText(status));
  gtk_level_bar_set_value(GTK_LEVEL_BAR(microphoneLevel_), levelFraction(status.microphoneLevel));
  gtk_level_bar_set_value(GTK_LEVEL_BAR(systemAudioLevel_), levelFraction(status.systemAudioLevel));
  setText(folder_, status.recording ? status.folder : kNone);
  setText(wavFile_, status.recording ? status.wavPath : kNone);
  setText(opusFile_, status.recording ? status.opusPath : kNone);

  std::vector<std::string> ports;
  for (const SerialPortStatus& port : status.ports) ports.push_back(portText(port));
  showPorts(ports);

  setText(logging_, logText(status));
  setText(logFolder_, status.logFolder.empty() ? "Not set yet" : status.logFolder);

  const std::string title = windowTitle(name, status);
  if (title != title_) {
    title_ = title;
    gtk_window_set_title(window_, title.c_str());
  }
  if (const auto notice = recordingNotice(name, last_, status)) notify(notice->title, notice->body);
  last_ = status;
}

}  // namespace quillon
