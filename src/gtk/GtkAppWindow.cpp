#include "gtk/GtkAppWindow.h"

#include "gtk/Shortcuts.h"

namespace brivok {

void GtkAppWindow::present() {
  gtk_widget_show(window_);
  gtk_window_present(GTK_WINDOW(window_));
}

void GtkAppWindow::alert(const std::string& message, const std::string& detail) {
  GtkWidget* box = gtk_message_dialog_new(
      GTK_WINDOW(window_), GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s", message.c_str());
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(box), "%s", detail.c_str());
  carryShortcuts(GTK_WINDOW(box));
  g_signal_connect(box, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
  gtk_widget_show(box);
}

}  // namespace brivok
