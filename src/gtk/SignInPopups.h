#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <vector>

#include "gtk/GtkLifetimes.h"

namespace brivok {

// The pages of one sign-in window: its own view and the popups that page opens (an identity
// provider's window, a consent step). Each popup gets a window of its own over the sign-in
// window, as large as the page asked and kept on the work area. Every page of the window shows
// its alerts and answers other dialogs at once, and chooses no files and saves no downloads.
class SignInPopups {
 public:
  // `mayOpen`: whether a popup may open now; when not, the page goes on in its own window.
  SignInPopups(GtkWindow* window, std::function<bool()> mayOpen)
      : window_(window), mayOpen_(std::move(mayOpen)) {}
  ~SignInPopups() { closeAll(); }
  SignInPopups(const SignInPopups&) = delete;
  SignInPopups& operator=(const SignInPopups&) = delete;

  void watch(WebKitWebView* view);
  void closeAll();
  // Nothing waits for a person from here on: no popup opens, and every dialog is answered.
  void setClosing() {
    closing_ = true;
    closeAll();
  }

 private:
  static GtkWidget* create(WebKitWebView*, WebKitNavigationAction*, gpointer self);
  static gboolean scriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer self);
  void show(WebKitWebView* view);
  void drop(GtkWidget* window);

  GtkWindow* window_;
  std::function<bool()> mayOpen_;
  bool closing_ = false;
  std::vector<GtkWidget*> popups_;  // popup windows, in the order opened
  Connections connections_;         // every handler that reaches this object
};

}  // namespace brivok
