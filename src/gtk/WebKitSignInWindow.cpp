#include "gtk/WebKitSignInWindow.h"

#include <vector>

#include "gtk/GtkLifetimes.h"
#include "gtk/PagePolicy.h"
#include "gtk/Shortcuts.h"
#include "gtk/UnwatchedPages.h"
#include "gtk/WebKitPage.h"
#include "signin/SignInData.h"

namespace brivok {
namespace {

class GtkSignInWindow : public SignInWindow {
 public:
  GtkSignInWindow(std::shared_ptr<WebKitStore> store, const Options& options);
  ~GtkSignInWindow() override;

  void show() override { gtk_window_present(GTK_WINDOW(window_)); }
  void close() override;
  std::shared_ptr<WebPage> page() override { return page_; }
  bool rememberLogin() const override {
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(remember_));
  }
  void setAddress(const std::string& text, bool secure) override {
    gtk_label_set_text(GTK_LABEL(address_), text.c_str());
    gtk_widget_set_visible(padlock_, secure);
  }
  void removeLoginChannel() override;
  void closePopups() override;
  void showStopped(bool stopped) override {
    gtk_widget_set_visible(stoppedBar_, stopped);
    gtk_widget_set_sensitive(done_, !stopped);
  }

 private:
  static gboolean deleted(GtkWidget*, GdkEvent*, gpointer self);
  static GtkWidget* create(WebKitWebView*, WebKitNavigationAction*, gpointer self);
  static gboolean scriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer self);
  static void loginMessage(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer self);

  void watchPage(WebKitWebView* view);
  void showPopup(WebKitWebView* view);
  void dropPopup(GtkWidget* window);

  std::weak_ptr<Events> events_;
  bool capturing_;
  bool closed_ = false;
  GtkWidget* window_ = nullptr;
  GtkWidget* address_ = nullptr;
  GtkWidget* padlock_ = nullptr;
  GtkWidget* remember_ = nullptr;
  GtkWidget* done_ = nullptr;
  GtkWidget* stoppedBar_ = nullptr;  // says the page stopped, offers to load it again
  WebKitWebView* view_ = nullptr;
  std::shared_ptr<WebKitPage> page_;
  WebKitUserContentManager* content_ = nullptr;  // (owned)
  std::vector<GtkWidget*> popups_;               // popup windows, in the order opened
  Connections connections_;                      // every handler that reaches this object
  Connection loginChannel_;
};

GtkSignInWindow::GtkSignInWindow(std::shared_ptr<WebKitStore> store, const Options& options)
    : events_(options.events), capturing_(!options.captureScript.empty()) {
  content_ = webkit_user_content_manager_new();
  view_ = store->makeView(content_);
  webkit_settings_set_user_agent(webkit_web_view_get_settings(view_), signin::kUserAgent);
  page_ = std::make_shared<WebKitPage>(view_, std::move(store));
  if (capturing_) {
    // In the shell's own world of each main frame (the window's and its popups'): frames of
    // other sites, and the page's own scripts, cannot post on the channel.
    webkit_user_content_manager_register_script_message_handler_in_world(content_, "brivokLogin",
                                                                         WebKitPage::kShellWorld);
    loginChannel_ =
        Connection(content_, g_signal_connect(content_, "script-message-received::brivokLogin",
                                              G_CALLBACK(loginMessage), this));
    WebKitUserScript* script = webkit_user_script_new_for_world(
        options.captureScript.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, WebKitPage::kShellWorld, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_, script);
    webkit_user_script_unref(script);
  }

  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  carryShortcuts(GTK_WINDOW(window_));
  gtk_window_set_title(GTK_WINDOW(window_), options.title.c_str());
  gtk_window_set_default_size(GTK_WINDOW(window_), 1040, 780);
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);

  GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  gtk_widget_set_size_request(bar, -1, 46);
  gtk_widget_set_margin_top(bar, 8);
  gtk_widget_set_margin_bottom(bar, 8);
  gtk_widget_set_margin_start(bar, 12);
  gtk_widget_set_margin_end(bar, 12);
  // The padlock from the icon theme GTK itself depends on, so it shows on any desktop, with or
  // without an emoji font.
  padlock_ = gtk_image_new_from_icon_name("channel-secure-symbolic", GTK_ICON_SIZE_MENU);
  gtk_widget_set_tooltip_text(padlock_, "The connection to this site is encrypted.");
  gtk_box_pack_start(GTK_BOX(bar), padlock_, FALSE, FALSE, 0);
  address_ = gtk_label_new(options.address.c_str());
  gtk_label_set_ellipsize(GTK_LABEL(address_), PANGO_ELLIPSIZE_MIDDLE);
  gtk_style_context_add_class(gtk_widget_get_style_context(address_), "dim-label");
  gtk_label_set_xalign(GTK_LABEL(address_), 0);
  gtk_box_pack_start(GTK_BOX(bar), address_, TRUE, TRUE, 0);
  remember_ = gtk_check_button_new_with_label("Remember my login");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(remember_), TRUE);
  gtk_widget_set_tooltip_text(remember_,
                              "Keep the login in your keyring so Brivok can sign in again by "
                              "itself when the session runs out.");
  gtk_box_pack_start(GTK_BOX(bar), remember_, FALSE, FALSE, 0);
  GtkWidget* cancel = gtk_button_new_with_label("Cancel");
  GtkWidget* done = done_ = gtk_button_new_with_label("I'm signed in");
  gtk_style_context_add_class(gtk_widget_get_style_context(done), "suggested-action");
  gtk_widget_set_can_default(done, TRUE);
  gtk_box_pack_start(GTK_BOX(bar), cancel, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(bar), done, FALSE, FALSE, 0);
  connections_.add(cancel, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
                     auto* self = static_cast<GtkSignInWindow*>(data);
                     if (auto events = self->events_.lock()) events->cancelPressed();
                   }),
                   this);
  connections_.add(done, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
                     auto* self = static_cast<GtkSignInWindow*>(data);
                     if (auto events = self->events_.lock()) events->finishPressed();
                   }),
                   this);

  stoppedBar_ = gtk_info_bar_new_with_buttons("Load Again", GTK_RESPONSE_OK, nullptr);
  gtk_info_bar_set_message_type(GTK_INFO_BAR(stoppedBar_), GTK_MESSAGE_WARNING);
  gtk_container_add(
      GTK_CONTAINER(gtk_info_bar_get_content_area(GTK_INFO_BAR(stoppedBar_))),
      gtk_label_new("This page stopped unexpectedly. Load it again to go on signing in."));
  connections_.add(stoppedBar_, "response", G_CALLBACK(+[](GtkInfoBar*, int, gpointer data) {
                     auto* self = static_cast<GtkSignInWindow*>(data);
                     if (auto events = self->events_.lock()) events->reloadPressed();
                   }),
                   this);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), stoppedBar_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), GTK_WIDGET(view_), TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(window_), box);
  // Return belongs to the page first: in a login field it sends the form. Only a Return the
  // page leaves alone (the engine hands unhandled keys back to the window) or one typed on
  // the bar presses "I'm signed in", the window's default button.
  gtk_window_set_default(GTK_WINDOW(window_), done);
  // Tied to the button it presses: gone with it, whichever goes first.
  g_signal_connect_object(
      remember_, "key-press-event",
      G_CALLBACK(+[](GtkWidget*, GdkEventKey* key, gpointer button) -> gboolean {
        if (key->keyval != GDK_KEY_Return && key->keyval != GDK_KEY_KP_Enter) return FALSE;
        gtk_widget_activate(GTK_WIDGET(button));
        return TRUE;
      }),
      done, GConnectFlags(0));

  connections_.add(window_, "delete-event", G_CALLBACK(deleted), this);
  watchPage(view_);
  gtk_widget_show_all(box);
  gtk_widget_set_visible(padlock_, options.secure);
  gtk_widget_hide(stoppedBar_);
  // Keys go to the page, as in a browser: a login field the site focuses takes what the user
  // types at once. Left to itself, GTK would focus the first control of the bar, where a
  // space silently unticks "Remember my login".
  gtk_widget_grab_focus(GTK_WIDGET(view_));
}

GtkSignInWindow::~GtkSignInWindow() {
  closePopups();
  page_.reset();
  loginChannel_.disconnect();
  connections_.clear();  // nothing reaches this object from here on
  destroyWhenIdle(window_);
  g_object_unref(content_);
}

void GtkSignInWindow::watchPage(WebKitWebView* view) {
  connections_.add(view, "create", G_CALLBACK(create), this);
  connections_.add(view, "script-dialog", G_CALLBACK(scriptDialog), this);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(refuseFileChooser), nullptr);
  withoutDownloadItems(view);
}

void GtkSignInWindow::close() {
  if (closed_) return;
  closed_ = true;
  closePopups();
  gtk_widget_hide(window_);
  webkit_web_view_stop_loading(view_);
  if (auto events = events_.lock()) events->windowClosed();
}

gboolean GtkSignInWindow::deleted(GtkWidget*, GdkEvent*, gpointer data) {
  // The window object outlives its closing; only the controller's owner lets it go.
  static_cast<GtkSignInWindow*>(data)->close();
  return TRUE;
}

void GtkSignInWindow::loginMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                   gpointer data) {
  auto* self = static_cast<GtkSignInWindow*>(data);
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  char* json = jsc_value_to_json(value, 0);
  if (!json) return;
  const std::string text = json;
  g_free(json);
  if (auto events = self->events_.lock()) events->loginMessage(text);
}

GtkWidget* GtkSignInWindow::create(WebKitWebView* view, WebKitNavigationAction* action,
                                   gpointer data) {
  auto* self = static_cast<GtkSignInWindow*>(data);
  auto events = self->events_.lock();
  if (!events || !events->mayOpenPopup() || self->closed_) {
    // Nothing may wait for a user: the page goes on in the same window.
    webkit_web_view_load_request(view, webkit_navigation_action_get_request(action));
    return nullptr;
  }
  GtkWidget* popup = webkit_web_view_new_with_related_view(view);
  // A page that gives no size gets its opener's window size from the engine; remember that
  // size so it can be told apart from one the page asked for.
  GtkWidget* opener = gtk_widget_get_toplevel(GTK_WIDGET(view));
  if (GTK_IS_WINDOW(opener)) {
    int w = 0, h = 0;
    gtk_window_get_size(GTK_WINDOW(opener), &w, &h);
    g_object_set_data(G_OBJECT(popup), "opener-size", GINT_TO_POINTER((w << 16) | (h & 0xffff)));
  }
  webkit_settings_set_user_agent(webkit_web_view_get_settings(WEBKIT_WEB_VIEW(popup)),
                                 signin::kUserAgent);
  self->watchPage(WEBKIT_WEB_VIEW(popup));
  self->connections_.add(popup, "ready-to-show",
                         G_CALLBACK(+[](WebKitWebView* popupView, gpointer d) {
                           static_cast<GtkSignInWindow*>(d)->showPopup(popupView);
                         }),
                         self);
  return popup;
}

void GtkSignInWindow::showPopup(WebKitWebView* view) {
  WebKitWindowProperties* properties = webkit_web_view_get_window_properties(view);
  GdkRectangle geometry{0, 0, 0, 0};
  webkit_window_properties_get_geometry(properties, &geometry);
  const int openerSize = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(view), "opener-size"));
  if (openerSize && openerSize == ((geometry.width << 16) | (geometry.height & 0xffff))) {
    geometry.width = geometry.height = 0;
  }
  const int width = geometry.width > 0 ? geometry.width : signin::kPopupWidth;
  const int height = geometry.height > 0 ? geometry.height : signin::kPopupHeight;

  GtkWidget* popup = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  carryShortcuts(GTK_WINDOW(popup));
  gtk_window_set_title(GTK_WINDOW(popup), gtk_window_get_title(GTK_WINDOW(window_)));
  gtk_window_set_transient_for(GTK_WINDOW(popup), GTK_WINDOW(window_));
  gtk_window_set_default_size(GTK_WINDOW(popup), width, height);
  gtk_container_add(GTK_CONTAINER(popup), GTK_WIDGET(view));

  Rect parent;
  gtk_window_get_position(GTK_WINDOW(window_), &parent.x, &parent.y);
  gtk_window_get_size(GTK_WINDOW(window_), &parent.width, &parent.height);
  std::optional<Rect> workArea;
  GdkDisplay* display = gtk_widget_get_display(window_);
  GdkWindow* gdkWindow = gtk_widget_get_window(window_);
  GdkMonitor* monitor = gdkWindow ? gdk_display_get_monitor_at_window(display, gdkWindow)
                                  : gdk_display_get_primary_monitor(display);
  if (monitor) {
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    workArea = Rect{area.x, area.y, area.width, area.height};
  }
  const auto [x, y] = signin::popupOrigin(parent, workArea, width, height);
  gtk_window_move(GTK_WINDOW(popup), x, y);

  connections_.add(popup, "delete-event", G_CALLBACK(+[](GtkWidget* w, GdkEvent*, gpointer d) {
                     static_cast<GtkSignInWindow*>(d)->dropPopup(w);
                     return TRUE;
                   }),
                   this);
  connections_.add(
      view, "close", G_CALLBACK(+[](WebKitWebView* v, gpointer d) {
        static_cast<GtkSignInWindow*>(d)->dropPopup(gtk_widget_get_toplevel(GTK_WIDGET(v)));
      }),
      this);
  popups_.push_back(popup);
  gtk_widget_show_all(popup);
  gtk_window_present(GTK_WINDOW(popup));
}

void GtkSignInWindow::dropPopup(GtkWidget* window) {
  for (auto it = popups_.begin(); it != popups_.end(); ++it) {
    if (*it != window) continue;
    popups_.erase(it);
    gtk_widget_destroy(window);  // its handlers go with it
    return;
  }
}

void GtkSignInWindow::closePopups() {
  while (!popups_.empty()) dropPopup(popups_.front());
}

gboolean GtkSignInWindow::scriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer data) {
  auto* self = static_cast<GtkSignInWindow*>(data);
  // Alerts are shown, attached to the sign-in window and not modal, so the rest of the shell
  // goes on; everything else, and anything once the window is closing, is answered at once.
  if (webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_ALERT &&
      !self->closed_) {
    showScriptDialog(GTK_WINDOW(self->window_), dialog, false);
  } else {
    answerUnwatched(dialog);
  }
  return TRUE;
}

void GtkSignInWindow::removeLoginChannel() {
  if (!capturing_) return;
  capturing_ = false;
  loginChannel_.disconnect();
  webkit_user_content_manager_unregister_script_message_handler_in_world(content_, "brivokLogin",
                                                                         WebKitPage::kShellWorld);
}

}  // namespace

std::shared_ptr<SignInWindow> WebKitSignInWindows::open(const SignInWindow::Options& options) {
  return std::make_shared<GtkSignInWindow>(stores_->forKey(options.key), options);
}

void WebKitSignInWindows::forget(const std::string& key) {
  stores_->forget(key);
}

}  // namespace brivok
