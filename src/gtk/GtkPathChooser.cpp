#include "gtk/GtkPathChooser.h"

#include <algorithm>
#include <utility>

#include "gtk/Shortcuts.h"

namespace brivok {

namespace {

GtkWidget* browseButton(const char* label, const char* name, GCallback clicked, gpointer self,
                        Connections& connections) {
  GtkWidget* button = gtk_button_new_with_mnemonic(label);
  gtk_widget_set_name(button, name);
  connections.add(button, "clicked", clicked, self);
  return button;
}

}  // namespace

GtkPathChooser::~GtkPathChooser() {
  close();  // the shell is going: nobody is left to answer
}

void GtkPathChooser::choose(Done done) {
  if (dialog_) close();
  done_ = std::move(done);
  paths_.clear();

  dialog_ = gtk_dialog_new_with_buttons(
      "Link Folders and Files", parent_,
      GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), "_Cancel",
      GTK_RESPONSE_CANCEL, "_Link", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_default_size(GTK_WINDOW(dialog_), 560, 360);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog_), GTK_RESPONSE_ACCEPT);
  link_ = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog_), GTK_RESPONSE_ACCEPT);
  gtk_widget_set_sensitive(link_, FALSE);

  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog_));
  gtk_container_set_border_width(GTK_CONTAINER(content), 12);
  gtk_box_set_spacing(GTK_BOX(content), 10);
  GtkWidget* message = gtk_label_new(kMessage);
  gtk_label_set_xalign(GTK_LABEL(message), 0);
  gtk_label_set_line_wrap(GTK_LABEL(message), TRUE);
  gtk_box_pack_start(GTK_BOX(content), message, FALSE, FALSE, 0);

  list_ = gtk_list_box_new();
  gtk_list_box_set_selection_mode(GTK_LIST_BOX(list_), GTK_SELECTION_NONE);
  GtkWidget* empty = gtk_label_new("Nothing chosen yet.");
  gtk_style_context_add_class(gtk_widget_get_style_context(empty), "dim-label");
  gtk_widget_show(empty);
  gtk_list_box_set_placeholder(GTK_LIST_BOX(list_), empty);
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(scroller), list_);
  gtk_box_pack_start(GTK_BOX(content), scroller, TRUE, TRUE, 0);

  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  GtkWidget* addFiles =
      browseButton("Add _Files…", "add-files", G_CALLBACK(+[](GtkButton*, gpointer self) {
                     static_cast<GtkPathChooser*>(self)->browse(GTK_FILE_CHOOSER_ACTION_OPEN);
                   }),
                   this, connections_);
  gtk_box_pack_start(GTK_BOX(buttons), addFiles, FALSE, FALSE, 0);
  gtk_box_pack_start(
      GTK_BOX(buttons),
      browseButton("Add F_olders…", "add-folders", G_CALLBACK(+[](GtkButton*, gpointer self) {
                     static_cast<GtkPathChooser*>(self)->browse(
                         GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
                   }),
                   this, connections_),
      FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(content), buttons, FALSE, FALSE, 0);

  connections_.add(dialog_, "response", G_CALLBACK(response), this);
  connections_.add(dialog_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                     // Closed with the main window: the request ends as cancelled.
                     auto* chooser = static_cast<GtkPathChooser*>(self);
                     chooser->dialog_ = nullptr;
                     if (auto done = std::exchange(chooser->done_, nullptr)) done({});
                   }),
                   this);
  carryShortcuts(GTK_WINDOW(dialog_));
  gtk_widget_show_all(dialog_);
  // The first control that does something has the keys: the empty list shows nothing.
  gtk_widget_grab_focus(addFiles);
}

void GtkPathChooser::present() {
  if (dialog_) gtk_window_present(GTK_WINDOW(dialog_));
}

void GtkPathChooser::response(GtkDialog*, int response, gpointer data) {
  auto* self = static_cast<GtkPathChooser*>(data);
  std::vector<std::string> paths;
  if (response == GTK_RESPONSE_ACCEPT) paths = std::move(self->paths_);
  Done done = std::exchange(self->done_, nullptr);
  self->close();
  if (done) done(std::move(paths));
}

void GtkPathChooser::browse(GtkFileChooserAction action) {
  const bool folders = action == GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
  GtkWidget* chooser = gtk_file_chooser_dialog_new(
      folders ? "Add Folders" : "Add Files", GTK_WINDOW(dialog_), action, "_Cancel",
      GTK_RESPONSE_CANCEL, "_Add", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  gtk_window_set_destroy_with_parent(GTK_WINDOW(chooser), TRUE);
  carryShortcuts(GTK_WINDOW(chooser));
  gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), TRUE);
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
  connections_.add(chooser, "response", G_CALLBACK(+[](GtkDialog* d, int r, gpointer self) {
                     GSList* files = r == GTK_RESPONSE_ACCEPT
                                         ? gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(d))
                                         : nullptr;
                     for (GSList* f = files; f; f = f->next) {
                       static_cast<GtkPathChooser*>(self)->add(static_cast<char*>(f->data));
                     }
                     g_slist_free_full(files, g_free);
                     gtk_widget_destroy(GTK_WIDGET(d));
                   }),
                   this);
  gtk_widget_show(chooser);
}

void GtkPathChooser::add(const std::string& path) {
  if (!dialog_ || std::find(paths_.begin(), paths_.end(), path) != paths_.end()) return;
  paths_.push_back(path);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  gtk_container_set_border_width(GTK_CONTAINER(row), 4);
  const bool folder = g_file_test(path.c_str(), G_FILE_TEST_IS_DIR);
  gtk_box_pack_start(
      GTK_BOX(row),
      gtk_image_new_from_icon_name(folder ? "folder" : "text-x-generic", GTK_ICON_SIZE_MENU), FALSE,
      FALSE, 0);
  char* shown = g_filename_display_name(path.c_str());
  GtkWidget* label = gtk_label_new(shown);
  gtk_widget_set_tooltip_text(label, shown);
  g_free(shown);
  gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
  GtkWidget* drop = gtk_button_new_from_icon_name("list-remove-symbolic", GTK_ICON_SIZE_BUTTON);
  gtk_widget_set_tooltip_text(drop, "Remove");
  gtk_button_set_relief(GTK_BUTTON(drop), GTK_RELIEF_NONE);
  g_object_set_data_full(G_OBJECT(drop), "path", g_strdup(path.c_str()), g_free);
  connections_.add(drop, "clicked", G_CALLBACK(+[](GtkButton* button, gpointer self) {
                     static_cast<GtkPathChooser*>(self)->remove(
                         gtk_widget_get_ancestor(GTK_WIDGET(button), GTK_TYPE_LIST_BOX_ROW),
                         static_cast<const char*>(g_object_get_data(G_OBJECT(button), "path")));
                   }),
                   this);
  gtk_box_pack_end(GTK_BOX(row), drop, FALSE, FALSE, 0);
  gtk_widget_show_all(row);
  gtk_list_box_insert(GTK_LIST_BOX(list_), row, -1);
  gtk_widget_set_sensitive(link_, TRUE);
  gtk_widget_grab_default(link_);  // Return links what is listed, from anywhere in the dialog
}

void GtkPathChooser::remove(GtkWidget* row, const std::string& path) {
  paths_.erase(std::remove(paths_.begin(), paths_.end(), path), paths_.end());
  if (row) gtk_widget_destroy(row);
  gtk_widget_set_sensitive(link_, !paths_.empty());
}

void GtkPathChooser::close() {
  if (!dialog_) return;
  GtkWidget* dialog = std::exchange(dialog_, nullptr);
  connections_.clear();
  gtk_widget_destroy(dialog);  // and with it any chooser still open on it
  done_ = nullptr;
  paths_.clear();
}

}  // namespace brivok
