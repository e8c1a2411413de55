#include "gtk/WebKitSignInWindow.h"

#include "gtk/GtkLifetimes.h"
#include "gtk/Shortcuts.h"
#include "gtk/SignInPopups.h"
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
  void closePopups() override { popups_->closeAll(); }
  void showStopped(bool stopped) override {
    gtk_widget_set_visible(stoppedBar_, stopped);
    gtk_widget_set_sensitive(done_, !stopped);
  }

 private:
  static gboolean deleted(GtkWidget*, GdkEvent*, gpointer self);
  static void loginMessage(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer self);

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
  std::unique_ptr<SignInPopups> popups_;
  Connections connections_;  // every handler that reaches this object
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
  popups_ = std::make_unique<SignInPopups>(GTK_WINDOW(window_), [events = events_] {
    auto open = events.lock();
    return open && open->mayOpenPopup();
  });
  popups_->watch(view_);
  gtk_widget_show_all(box);
  gtk_widget_set_visible(padlock_, options.secure);
  gtk_widget_hide(stoppedBar_);
  // Keys go to the page, as in a browser: a login field the site focuses takes what the user
  // types at once. Left to itself, GTK would focus the first control of the bar, where a
  // space silently unticks "Remember my login".
  gtk_widget_grab_focus(GTK_WIDGET(view_));
}

GtkSignInWindow::~GtkSignInWindow() {
  popups_.reset();
  page_.reset();
  loginChannel_.disconnect();
  connections_.clear();  // nothing reaches this object from here on
  destroyWhenIdle(window_);
  g_object_unref(content_);
}

void GtkSignInWindow::close() {
  if (closed_) return;
  closed_ = true;
  popups_->setClosing();
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
