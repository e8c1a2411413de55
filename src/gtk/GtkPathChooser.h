#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "gtk/GtkLifetimes.h"
#include "platform/PathChooser.h"

namespace brivok {

// GTK's file chooser picks files or folders, never both at once. This dialog on the main
// window collects both: "Add Files…" and "Add Folders…" open the system chooser in each mode,
// and every path chosen is listed, in order, until "Link" hands the list over.
class GtkPathChooser : public PathChooser {
 public:
  static constexpr const char* kMessage = "Choose the folders or files your agents may use.";

  explicit GtkPathChooser(GtkWindow* parent) : parent_(parent) {}
  ~GtkPathChooser() override;
  GtkPathChooser(const GtkPathChooser&) = delete;
  GtkPathChooser& operator=(const GtkPathChooser&) = delete;

  void choose(Done done) override;
  void present() override;

  // The open dialog, if any.
  GtkWidget* dialog() const { return dialog_; }

 private:
  static void response(GtkDialog*, int response, gpointer self);
  void browse(GtkFileChooserAction action);
  void add(const std::string& path);
  void remove(GtkWidget* row, const std::string& path);
  void close();

  GtkWindow* parent_;
  GtkWidget* dialog_ = nullptr;
  GtkWidget* list_ = nullptr;
  GtkWidget* link_ = nullptr;
  std::vector<std::string> paths_;
  Done done_;
  Connections connections_;  // of the open dialog and its widgets
};

}  // namespace brivok
