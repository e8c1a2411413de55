#include <gtk/gtk.h>

#include "GtkTestSupport.h"
#include "TempDir.h"
#include "bridge/NavigationPolicy.h"
#include "gtk/AppMenu.h"
#include "gtk/GlibEventLoop.h"
#include "gtk/PagePolicy.h"
#include "gtk/WebKitMainView.h"
#include "gtk/WebKitOffscreenPages.h"
#include "gtk/WebKitSignInWindow.h"
#include "signin/SignInController.h"

namespace brivok {
namespace {

using testing::evaluate;
using testing::pressKey;
using testing::showSignIn;
using testing::spin;

// The menu bar's shortcuts in real windows of an application: a page's text field, the
// entry of a page dialog, and a sign-in window.
TEST(MenuKeys, EditKeysWorkInFieldsAndCloseEndsASignIn) {
  testing::TestSites sites;
  testing::TempDir dir;
  GtkApplication* app = gtk_application_new("app.brivok.KeysTest", G_APPLICATION_NON_UNIQUE);
  ASSERT_TRUE(g_application_register(G_APPLICATION(app), nullptr, nullptr));
  g_application_set_default(G_APPLICATION(app));
  int reloads = 0;
  installMenu(app, MenuCommands{nullptr, nullptr, nullptr, [&] { ++reloads; }, nullptr});

  auto view = std::make_shared<WebKitMainView>([](const PageMessage&) {});
  view->setHomeOrigins(homeOrigins(sites.origin()));
  GtkWidget* window = gtk_application_window_new(app);
  gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
  gtk_container_add(GTK_CONTAINER(window), view->widget());
  gtk_widget_show_all(window);
  gtk_window_present(GTK_WINDOW(window));
  const std::string page = sites.origin() + "/field.html";
  view->loadUrl(page);
  ASSERT_TRUE(testing::waitForPage(view->view(), page));
  gtk_widget_grab_focus(view->widget());
  ASSERT_TRUE(spin([&] { return gtk_window_is_active(GTK_WINDOW(window)); }, 5));
  evaluate(view->view(), "f.focus(); document.execCommand('insertText', false, 'hello'); 1");
  const auto field = [&] { return evaluate(view->view(), "f.value").value_or(""); };
  const auto ctrl = [&](guint key, GdkModifierType more = GdkModifierType(0)) {
    pressKey(view->widget(), key, GdkModifierType(GDK_CONTROL_MASK | more));
    testing::pause(0.2);
  };
  ctrl(GDK_KEY_a);
  ctrl(GDK_KEY_x);
  EXPECT_TRUE(spin([&] { return field() == "\"\""; }, 5));
  ctrl(GDK_KEY_z);  // undo brings the cut text back
  EXPECT_TRUE(spin([&] { return field() == "\"hello\""; }, 5));
  ctrl(GDK_KEY_z, GDK_SHIFT_MASK);  // redo cuts it again
  EXPECT_TRUE(spin([&] { return field() == "\"\""; }, 5));
  ctrl(GDK_KEY_v);
  ctrl(GDK_KEY_v);
  EXPECT_TRUE(spin([&] { return field() == "\"hellohello\""; }, 5));
  ctrl(GDK_KEY_r);
  EXPECT_EQ(reloads, 1);
  // Zoom scales the page's CSS pixels: fewer of them across the same view.
  const auto width = [&] { return std::stoi(evaluate(view->view(), "innerWidth").value_or("0")); };
  const int actual = width();
  ctrl(GDK_KEY_plus);
  ctrl(GDK_KEY_equal);
  EXPECT_DOUBLE_EQ(webkit_web_view_get_zoom_level(view->view()), 1.2);
  EXPECT_TRUE(spin([&] { return std::abs(width() - actual / 1.2) <= 1; }, 5)) << width();
  ctrl(GDK_KEY_minus);
  EXPECT_DOUBLE_EQ(webkit_web_view_get_zoom_level(view->view()), 1.1);
  ctrl(GDK_KEY_0);
  EXPECT_TRUE(spin([&] { return width() == actual; }, 5));

  // A prompt's entry keeps its own keys.
  evaluate(view->view(), "setTimeout(() => { window.answer = prompt('Name?', 'Ann Lee'); }); 1");
  GtkWidget* dialog = nullptr;
  ASSERT_TRUE(spin([&] {
    return (dialog = testing::findWindow([&](GtkWindow* w) {
              return gtk_window_get_transient_for(w) == GTK_WINDOW(window);
            })) != nullptr;
  }));
  GtkWidget* entry = gtk_window_get_focus(GTK_WINDOW(dialog));
  ASSERT_TRUE(entry && GTK_IS_ENTRY(entry));
  pressKey(entry, GDK_KEY_a, GDK_CONTROL_MASK);
  pressKey(entry, GDK_KEY_x, GDK_CONTROL_MASK);
  EXPECT_EQ(std::string(gtk_entry_get_text(GTK_ENTRY(entry))), "");
  pressKey(entry, GDK_KEY_v, GDK_CONTROL_MASK);
  EXPECT_TRUE(spin([&] { return std::string(gtk_entry_get_text(GTK_ENTRY(entry))) == "Ann Lee"; }));
  gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);

  // Ctrl+W on a sign-in window ends the sign-in as closed.
  WebKitSignInWindows windows(std::make_shared<WebKitStores>(dir / "data", dir / "cache"));
  std::optional<std::string> ending;
  auto signIn =
      showSignIn(windows, sites.origin() + "/login.html", "Keys", {}, "",
                 [&](const std::optional<nlohmann::json>&, const std::string& e) { ending = e; })
          .controller;
  GtkWidget* signInWindow = testing::findWindow(
      [](GtkWindow* w) { return g_strcmp0(gtk_window_get_title(w), "Keys") == 0; });
  ASSERT_TRUE(signInWindow);
  pressKey(signInWindow, GDK_KEY_w, GDK_CONTROL_MASK);
  ASSERT_TRUE(spin([&] { return ending.has_value(); }, 5));
  EXPECT_EQ(*ending, "the sign-in window was closed");
  EXPECT_TRUE(gtk_widget_get_visible(window));  // only the focused window closed

  // Full screen is a state the menu item shows, whichever way the window got there (a window
  // manager is what grants it).
  GSubprocess* manager = g_subprocess_new(
      G_SUBPROCESS_FLAGS_NONE, nullptr, "matchbox-window-manager", "-use_titlebar", "no", nullptr);
  ASSERT_TRUE(manager);
  testing::pause(1);
  gtk_window_present(GTK_WINDOW(window));
  const auto fullScreenShown = [&] {
    GVariant* state = g_action_group_get_action_state(G_ACTION_GROUP(app), "full-screen");
    const bool on = state && g_variant_get_boolean(state);
    if (state) g_variant_unref(state);
    return on;
  };
  EXPECT_FALSE(fullScreenShown());
  ASSERT_TRUE(spin([&] { return gtk_window_is_active(GTK_WINDOW(window)); }, 5));
  g_action_group_activate_action(G_ACTION_GROUP(app), "full-screen", nullptr);
  EXPECT_TRUE(spin(fullScreenShown, 5));
  gtk_window_unfullscreen(GTK_WINDOW(window));
  EXPECT_TRUE(spin([&] { return !fullScreenShown(); }, 5));
  // F11 too, with the page's keys in the web view.
  gtk_widget_grab_focus(view->widget());
  pressKey(view->widget(), GDK_KEY_f, GDK_CONTROL_MASK);
  EXPECT_TRUE(spin(fullScreenShown, 5)) << "ctrl";
  pressKey(view->widget(), GDK_KEY_f, GDK_CONTROL_MASK);
  EXPECT_TRUE(spin([&] { return !fullScreenShown(); }, 5));
  pressKey(view->widget(), GDK_KEY_F11);
  EXPECT_TRUE(spin(fullScreenShown, 5));
  pressKey(view->widget(), GDK_KEY_F11);
  EXPECT_TRUE(spin([&] { return !fullScreenShown(); }, 5));
  g_subprocess_force_exit(manager);
  g_subprocess_wait(manager, nullptr, nullptr);
  g_object_unref(manager);

  gtk_widget_destroy(window);
  g_application_set_default(nullptr);
  g_object_unref(app);
}

}  // namespace
}  // namespace brivok
