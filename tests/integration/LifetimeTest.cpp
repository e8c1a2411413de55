#include <gtk/gtk.h>

#include "GtkTestSupport.h"
#include "TempDir.h"
#include "gtk/GlibEventLoop.h"
#include "gtk/WebKitOffscreenPages.h"
#include "gtk/WebKitSignInWindow.h"
#include "jobs/PageRenderer.h"
#include "signin/SignInController.h"

namespace brivok {
namespace {

using namespace testing;

// Windows and jobs let go at awkward moments. Under AddressSanitizer a handler, timer or
// completion left pointing at what is gone ends the run; here the loop simply goes on.
TEST(Lifetimes, SignInWindowsAndJobsLetGoMidway) {
  TestSites sites;
  TempDir dir;
  auto loop = std::make_shared<GlibEventLoop>();
  auto stores = std::make_shared<WebKitStores>(dir / "data", dir / "cache");
  WebKitSignInWindows windows(stores);
  WebKitOffscreenPages pages(stores);
  const std::string o = sites.origin();

  const auto openWindow = [&](const std::string& url) {
    return showSignIn(windows, url, "Lifetime").controller;
  };
  const auto viewOf = [](const char* title) { return webViewIn(title); };

  // A window closed while its page is still loading; its bar's buttons pressed after its
  // owner let it go, before the window itself is taken down.
  auto loading = openWindow(o + "/slow?s=2");
  pause(0.3);
  GtkWidget* bar =
      findWindow([](GtkWindow* w) { return g_strcmp0(gtk_window_get_title(w), "Lifetime") == 0; });
  ASSERT_TRUE(bar);
  std::vector<GtkWidget*> buttons;
  findWidget(bar, [&](GtkWidget* w) {
    if (GTK_IS_BUTTON(w) && !GTK_IS_TOGGLE_BUTTON(w))
      buttons.push_back(GTK_WIDGET(g_object_ref(w)));
    return false;
  });
  // "Cancel", "I'm signed in", and the stopped page's "Load Again" and its bar's close button.
  ASSERT_EQ(buttons.size(), 4u);
  loading.reset();
  for (GtkWidget* button : buttons) {
    gtk_button_clicked(GTK_BUTTON(button));
    g_object_unref(button);
  }
  pause(2.5);

  // A window closed while the popup its page asked for is being made.
  auto opening = openWindow(o + "/consent.html");
  WebKitWebView* view = viewOf("Lifetime");
  ASSERT_TRUE(view && waitForPage(view, o + "/consent.html"));
  clickAt(GTK_WIDGET(view), 100, 20);  // opens a popup
  opening.reset();
  pause(1.5);

  // A window closed while its page's alert is open, the alert answered afterwards.
  auto alerting = openWindow(o + "/consent.html");
  view = viewOf("Lifetime");
  ASSERT_TRUE(view && waitForPage(view, o + "/consent.html"));
  clickAt(GTK_WIDGET(view), 100, 100);  // an alert
  GtkWidget* alert = nullptr;
  ASSERT_TRUE(spin(
      [&] { return (alert = findWindow([](GtkWindow* w) { return GTK_IS_MESSAGE_DIALOG(w); })); },
      10));
  g_object_ref(alert);
  alerting.reset();
  pause(0.2);
  if (!gtk_widget_in_destruction(alert)) gtk_dialog_response(GTK_DIALOG(alert), GTK_RESPONSE_OK);
  g_object_unref(alert);
  pause(1);

  // A window let go, then closed by its close button before its idle destroy comes.
  auto closing = openWindow(o + "/login.html");
  GtkWidget* shown =
      findWindow([](GtkWindow* w) { return g_strcmp0(gtk_window_get_title(w), "Lifetime") == 0; });
  ASSERT_TRUE(shown && gtk_widget_get_window(shown));
  closing.reset();
  GdkEvent* close = gdk_event_new(GDK_DELETE);
  close->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(shown)));
  close->any.send_event = TRUE;
  gtk_main_do_event(close);
  gdk_event_free(close);
  pause(0.5);

  // A job ended while its page loads, and one ended as its page finishes.
  for (double at : {0.3, 2.0}) {
    auto renderer =
        PageRenderer::create(pages, loop, o + "/slow?s=2", "", {},
                             [](const std::optional<nlohmann::json>&, const std::string&) {});
    pause(at);
    renderer.reset();
  }
  pause(2.5);
  EXPECT_FALSE(
      findWindow([](GtkWindow* w) { return g_strcmp0(gtk_window_get_title(w), "Lifetime") == 0; }));
}

}  // namespace
}  // namespace brivok
