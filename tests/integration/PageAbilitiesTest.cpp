#include <gtk/gtk.h>

#include <filesystem>
#include <set>

#include "GtkTestSupport.h"
#include "TempDir.h"
#include "app/AppDelegate.h"
#include "app/SettingsFile.h"
#include "gtk/GlibEventLoop.h"
#include "gtk/GtkAppWindow.h"
#include "gtk/GtkPathChooser.h"
#include "gtk/WebKitMainView.h"
#include "gtk/WebKitOffscreenPages.h"
#include "gtk/WebKitSignInWindow.h"
#include "gtk/WebKitTarvelView.h"
#include "gtk/WebSandbox.h"
#include "jobs/PageRenderer.h"
#include "signin/SignInController.h"

namespace brivok {
namespace {

using testing::clickAt;
using testing::evaluate;
using testing::findWidget;
using testing::findWindow;
using testing::showSignIn;
using testing::spin;
using testing::TempDir;
using testing::TestSites;
using testing::waitForPage;

// The open dialog that belongs to `parent`.
GtkWidget* dialogOf(GtkWindow* parent) {
  return findWindow([parent](GtkWindow* w) { return gtk_window_get_transient_for(w) == parent; });
}

// The main view, the secondary view's overlay and the delegate, on a local page.
struct PageFixture : ::testing::Test {
  TestSites sites;
  TempDir dir;
  std::shared_ptr<GlibEventLoop> loop = std::make_shared<GlibEventLoop>();
  std::shared_ptr<testing::RecordingOpener> opener = std::make_shared<testing::RecordingOpener>();
  std::shared_ptr<AppDelegate> delegate;
  std::shared_ptr<WebKitMainView> view =
      std::make_shared<WebKitMainView>([this](const PageMessage& message) {
        if (delegate) delegate->receiveScriptMessage(message);
      });
  GtkWidget* overlay = gtk_overlay_new();
  std::unique_ptr<testing::ShownWindow> window;
  std::shared_ptr<GtkPathChooser> chooser;
  std::shared_ptr<WebKitSignInWindows> signIns;
  std::weak_ptr<WebKitTarvelView> tarvelMade;  // the secondary site's view, once the page asks
  // A backend with nothing to run, told ready at the test sites: their pages are its own.
  std::shared_ptr<Backend> backend =
      Backend::create(loop, {dir / "no-res", dir.path(), dir / "backend.log", {}});

  void SetUp() override {
    view->setOpenOutside([this](const std::string& url) { opener->open(url); });
    gtk_container_add(GTK_CONTAINER(overlay), view->widget());
    window = std::make_unique<testing::ShownWindow>(overlay);
    chooser = std::make_shared<GtkPathChooser>(window->window());
    signIns = std::make_shared<WebKitSignInWindows>(
        std::make_shared<WebKitStores>(dir / "data", dir / "cache"));
    AppDelegate::Parts parts{loop,   std::make_shared<SettingsFile>(dir / "settings.json"),
                             view,   std::shared_ptr<AppWindow>(window.get(), [](AppWindow*) {}),
                             opener, backend,
                             signIns};
    parts.pathChooser = chooser;
    parts.makeTarvelView = [this] {
      auto made = std::make_shared<WebKitTarvelView>(
          GTK_OVERLAY(overlay), view->view(), dir / "data/default", dir / "cache/default",
          AppDelegate::kTarvelDomain, [this](const std::string& url) { opener->open(url); });
      tarvelMade = made;
      return made;
    };
    parts.tarvelUrl = sites.origin() + "/tarvel.html";
    delegate = AppDelegate::create(std::move(parts));
    delegate->didFinishLaunching();
    backend->onReady(sites.origin() + "/");
    // The backend's start page first, so that no test's own load races it.
    ASSERT_TRUE(spin(
        [&] {
          const char* uri = webkit_web_view_get_uri(view->view());
          return uri && uri == sites.origin() + "/" && !webkit_web_view_is_loading(view->view());
        },
        20));
  }
  // Posts `json` on the "brivok" channel from the page on screen, as its scripts would.
  void send(const std::string& json) {
    evaluate(view->view(), "window.webkit.messageHandlers.brivok.postMessage(" + json + "); 1");
  }
  void load(const std::string& path) {
    view->loadUrl(sites.origin() + path);
    ASSERT_TRUE(waitForPage(view->view(), sites.origin() + path));
  }
  // Waits for the page's dialog, answers it, and gives the page's result as JSON.
  std::string answerDialog(int response, const char* typed = nullptr) {
    GtkWidget* dialog = nullptr;
    spin([&] { return (dialog = dialogOf(window->window())) != nullptr; }, 10);
    if (!dialog) return "no dialog";
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
    if (typed) {
      GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(dialog));
      EXPECT_TRUE(focus && GTK_IS_ENTRY(focus));  // typing goes straight to the field
      if (focus && GTK_IS_ENTRY(focus)) gtk_entry_set_text(GTK_ENTRY(focus), typed);
    }
    gtk_dialog_response(GTK_DIALOG(dialog), response);
    std::string result;
    spin(
        [&] {
          result = evaluate(view->view(),
                            "window.results.length ? JSON.stringify(window.results.pop()) : ''")
                       .value_or("");
          return result != "\"\"";
        },
        10);
    return result;
  }
};

TEST_F(PageFixture, DialogsAnswerThePageWhenClosedAndTheWindowKeepsRunning) {
  load("/dialogs.html");
  evaluate(view->view(), "later(() => prompt('Your name?', 'Ann')); 1");
  EXPECT_EQ(answerDialog(GTK_RESPONSE_OK, ""), "\"\\\"\\\"\"");  // emptied and OK: "", not null
  evaluate(view->view(), "later(() => prompt('Your name?')); 1");
  EXPECT_EQ(answerDialog(GTK_RESPONSE_OK, "Zo\u00eb \"Q\""),
            "\"\\\"Zo\u00eb \\\\\\\"Q\\\\\\\"\\\"\"");
  evaluate(view->view(), "later(() => prompt('Your name?', 'Ann')); 1");
  EXPECT_EQ(answerDialog(GTK_RESPONSE_DELETE_EVENT), "\"null\"");
  evaluate(view->view(), "later(() => confirm('Sure?')); 1");
  EXPECT_EQ(answerDialog(GTK_RESPONSE_OK), "\"true\"");
  evaluate(view->view(), "later(() => confirm('Sure?')); 1");
  EXPECT_EQ(answerDialog(GTK_RESPONSE_CANCEL), "\"false\"");
  evaluate(view->view(), "later(() => alert('Done') || 'closed'); 1");
  EXPECT_EQ(answerDialog(GTK_RESPONSE_OK), "\"\\\"closed\\\"\"");
}

TEST_F(PageFixture, FileInputAndNewWindowLinksFollowTheShellsRules) {
  load("/dialogs.html");
  const auto file = dir / "notes caf\u00e9.txt";
  testing::writeFile(file, "x");
  clickAt(view->widget(), 100, 20);  // the file input, multiple
  GtkWidget* chooser = nullptr;
  ASSERT_TRUE(spin([&] { return (chooser = dialogOf(window->window())) != nullptr; }, 10));
  ASSERT_TRUE(GTK_IS_FILE_CHOOSER(chooser));
  EXPECT_TRUE(gtk_file_chooser_get_select_multiple(GTK_FILE_CHOOSER(chooser)));
  EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(chooser)), GTK_FILE_CHOOSER_ACTION_OPEN);
  gtk_file_chooser_select_filename(GTK_FILE_CHOOSER(chooser), file.c_str());
  ASSERT_TRUE(spin(
      [&] {
        GSList* files = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(chooser));
        const bool ready = files != nullptr;
        g_slist_free_full(files, g_free);
        return ready;
      },
      10));
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  ASSERT_TRUE(spin([&] { return evaluate(view->view(), "window.chosen") != "undefined"; }, 10));
  EXPECT_EQ(evaluate(view->view(), "window.chosen"), "[\"notes caf\u00e9.txt\"]");

  // Clicked links to a new window: outside goes to the desktop, local opens nothing.
  clickAt(view->widget(), 100, 60);
  ASSERT_TRUE(spin([&] { return !opener->opened.empty(); }, 10));
  EXPECT_EQ(opener->opened, (std::vector<std::string>{"https://outside.example/from-blank"}));
  clickAt(view->widget(), 100, 100);
  testing::pause(0.5);
  EXPECT_EQ(opener->opened.size(), 1u);
  EXPECT_EQ(webkit_web_view_get_uri(view->view()), sites.origin() + "/dialogs.html");

  // A link's menu offers what works here: no download, since the shell takes none.
  std::vector<WebKitContextMenuAction> offered;
  g_signal_connect(
      view->view(), "context-menu",
      G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu* menu, GdkEvent*, WebKitHitTestResult*,
                     gpointer out) -> gboolean {
        for (GList* i = webkit_context_menu_get_items(menu); i; i = i->next)
          static_cast<std::vector<WebKitContextMenuAction>*>(out)->push_back(
              webkit_context_menu_item_get_stock_action(WEBKIT_CONTEXT_MENU_ITEM(i->data)));
        return TRUE;  // never shown
      }),
      &offered);
  clickAt(view->widget(), 100, 60, 3);
  ASSERT_TRUE(spin([&] { return !offered.empty(); }, 10));
  EXPECT_EQ(
      std::count(offered.begin(), offered.end(), WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD),
      1);
  EXPECT_EQ(
      std::count(offered.begin(), offered.end(), WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK),
      0);
}

TEST_F(PageFixture, TarvelShowsMovesHidesAndKeepsItsPage) {
  load("/dialogs.html");
  send(R"({"action":"tarvel","visible":false,"rect":[1,2,3,4]})");
  send(R"({"action":"tarvel","visible":true,"rect":[10,10,100]})");
  EXPECT_FALSE(tarvelMade.lock());
  send(R"({"action":"tarvel","visible":true,"rect":[20,450,300,400]})");
  ASSERT_TRUE(tarvelMade.lock());
  WebKitWebView* tarvel = tarvelMade.lock()->view();
  ASSERT_TRUE(waitForPage(tarvel, sites.origin() + "/tarvel.html"));
  // Running past the bottom of the window, it is drawn from its top, clipped at the window's
  // edge (the page is green from its first pixel).
  const auto green = [&](int x, int y) {
    GdkPixbuf* shot =
        gdk_pixbuf_get_from_window(gtk_widget_get_window(GTK_WIDGET(window->window())), x, y, 1, 1);
    const guchar* p = gdk_pixbuf_get_pixels(shot);
    const bool isGreen = p[0] < 40 && p[1] > 140 && p[2] < 40;
    g_object_unref(shot);
    return isGreen;
  };
  EXPECT_TRUE(spin([&] { return green(30, 452) && green(300, 598); }, 5));
  EXPECT_FALSE(green(30, 447));

  send(R"({"action":"tarvel","visible":true,"rect":[20,100,300,200]})");
  // Where the view is drawn, in the main view's coordinates.
  auto placed = [&](int x, int y, int w, int h) {
    return spin(
        [&] {
          GtkAllocation a;
          gtk_widget_get_allocation(GTK_WIDGET(tarvel), &a);
          int left = -1, top = -1;
          gtk_widget_translate_coordinates(GTK_WIDGET(tarvel), view->widget(), 0, 0, &left, &top);
          return gtk_widget_get_mapped(GTK_WIDGET(tarvel)) && left == x && top == y &&
                 a.width == w && a.height == h;
        },
        5);
  };
  EXPECT_TRUE(placed(20, 100, 300, 200));
  evaluate(tarvel, "window.marker = 'kept'; 1");

  send(R"({"action":"tarvel","visible":true,"rect":[40.4,10,320.6,150]})");
  EXPECT_TRUE(placed(40, 10, 321, 150));
  // At any zoom it covers the region the page asked for, whose CSS pixels grow with it.
  webkit_web_view_set_zoom_level(view->view(), 1.5);
  EXPECT_TRUE(placed(61, 15, 481, 225));
  EXPECT_DOUBLE_EQ(webkit_web_view_get_zoom_level(tarvel), 1.5);
  webkit_web_view_set_zoom_level(view->view(), 1.0);
  EXPECT_TRUE(placed(40, 10, 321, 150));
  send(R"({"action":"tarvel","visible":true,"rect":[10,10,100]})");
  EXPECT_TRUE(spin([&] { return !gtk_widget_get_visible(GTK_WIDGET(tarvel)); }, 5));
  // Bringing the window forward (a sign-in ends, a second launch) keeps it hidden.
  GtkAppWindow(GTK_WIDGET(window->window())).present();
  testing::pause(0.2);
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(tarvel)));
  send(R"({"action":"tarvel","visible":true,"rect":[-5,0,1e300,-3]})");  // kept in bounds
  EXPECT_TRUE(spin([&] { return gtk_widget_get_mapped(GTK_WIDGET(tarvel)); }, 5));
  EXPECT_EQ(evaluate(tarvel, "window.marker"), "\"kept\"");

  // An outside link leaves for the desktop; the view keeps its page.
  evaluate(tarvel, "document.getElementById('away').click(); 1");
  ASSERT_TRUE(spin([&] { return !opener->opened.empty(); }, 10));
  EXPECT_EQ(opener->opened.back(), sites.origin("127.0.0.2") + "/frame.html");
  EXPECT_EQ(webkit_web_view_get_uri(tarvel), sites.origin() + "/tarvel.html");

  send(R"({"action":"tarvel","visible":true,"rect":[0,0,200,100],"reload":true})");
  ASSERT_TRUE(spin([&] { return evaluate(tarvel, "window.marker") == "undefined"; }, 10));
  EXPECT_TRUE(placed(0, 0, 200, 100));
  EXPECT_TRUE(std::filesystem::exists(dir / "data/default"));
  // The status page never has the secondary site floating over it.
  delegate->showStatus(AppDelegate::kStoppedTitle, "gone");
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(tarvel)));
}

// The web view of a never-shown page whose address holds `part`.
WebKitWebView* offscreenView(const char* part) {
  WebKitWebView* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* l = windows; l && !found; l = l->next) {
    if (!GTK_IS_OFFSCREEN_WINDOW(l->data)) continue;
    GtkWidget* view =
        findWidget(GTK_WIDGET(l->data), [](GtkWidget* w) { return WEBKIT_IS_WEB_VIEW(w); });
    const char* uri = view ? webkit_web_view_get_uri(WEBKIT_WEB_VIEW(view)) : nullptr;
    if (uri && std::string(uri).find(part) != std::string::npos) found = WEBKIT_WEB_VIEW(view);
  }
  g_list_free(windows);
  return found;
}

TEST_F(PageFixture, WebProcessesRunSandboxedAndOneThatGoesAwayEndsOrReloadsWhatItServed) {
  load("/bridge.html");
  const std::string o = sites.origin();
  // A sign-in window, a page being read and a sign-in by itself, all at once.
  send(R"({"action":"signin","id":"s","url":")" + o + R"(/login.html","title":"Crash"})");
  WebKitWebView* signIn = nullptr;
  ASSERT_TRUE(spin([&] { return (signIn = testing::webViewIn("Crash")) != nullptr; }, 10));
  ASSERT_TRUE(waitForPage(signIn, o + "/login.html"));
  WebKitOffscreenPages pages(std::make_shared<WebKitStores>(dir / "data", dir / "cache"));
  std::optional<std::string> renderError, autoError;
  auto renderer = PageRenderer::create(
      pages, loop, o + "/render-restless.html", "", {},
      [&](const std::optional<nlohmann::json>&, const std::string& e) { renderError = e; });
  auto automatic = SignInController::create(pages, loop, o + "/login-verify.html", {"127.0.0.1"},
                                            "crash", {"ann", "pw", "login"});
  automatic->onFinish = [&](const std::optional<nlohmann::json>&, const std::string& e) {
    autoError = e;
  };
  ASSERT_TRUE(spin([&] { return offscreenView("restless") && offscreenView("verify"); }, 10));
  testing::pause(1.0);

  // Each kind of page runs in a mount namespace of its own, where the user's files are not.
  if (webSandboxAvailable()) {
    const std::string marker =
        std::string(g_get_home_dir()) + "/.brivok-test-" + std::to_string(getpid());
    testing::writeFile(marker, "private");
    const auto processes = ownWebProcesses();
    EXPECT_GE(processes.size(), 4u);
    for (const pid_t pid : processes) {
      EXPECT_NE(testing::mountNamespace(pid), testing::mountNamespace(getpid())) << pid;
      EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(pid) + "/root" + marker))
          << pid;
    }
    std::filesystem::remove(marker);
  }
  // A job whose page goes away ends at once, and says why.
  webkit_web_view_terminate_web_process(offscreenView("restless"));
  ASSERT_TRUE(spin([&] { return renderError.has_value(); }, 5));
  EXPECT_EQ(*renderError, kPageStoppedError);
  webkit_web_view_terminate_web_process(offscreenView("verify"));
  ASSERT_TRUE(spin([&] { return autoError.has_value(); }, 5));
  EXPECT_EQ(*autoError, kPageStoppedError);

  // The sign-in window says so, and hands over nothing until its page is loaded again.
  evaluate(view->view(), "window.answers = []; window.brivokSignedIn = (a) => answers.push(a); 1");
  webkit_web_view_terminate_web_process(signIn);
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(signIn));
  GtkWidget* bar = findWidget(top, [](GtkWidget* w) { return GTK_IS_INFO_BAR(w); });
  GtkWidget* done = findWidget(top, [](GtkWidget* w) {
    return GTK_IS_BUTTON(w) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), "I'm signed in") == 0;
  });
  ASSERT_TRUE(bar && done);
  ASSERT_TRUE(spin([&] { return gtk_widget_get_visible(bar); }, 5));
  EXPECT_FALSE(gtk_widget_get_sensitive(done));
  gtk_info_bar_response(GTK_INFO_BAR(bar), GTK_RESPONSE_OK);
  ASSERT_TRUE(waitForPage(signIn, o + "/login.html"));
  EXPECT_FALSE(gtk_widget_get_visible(bar));
  EXPECT_TRUE(gtk_widget_get_sensitive(done));
  gtk_button_clicked(GTK_BUTTON(done));
  ASSERT_TRUE(spin([&] { return evaluate(view->view(), "answers.length") == "1"; }, 5));

  // The main view's page comes back by itself.
  webkit_web_view_terminate_web_process(view->view());
  ASSERT_TRUE(spin(
      [&] {
        return webkit_web_view_get_uri(view->view()) == o + "/" &&
               !webkit_web_view_is_loading(view->view());
      },
      10));
}

// Picks `paths` in the system chooser the path picker opens from its `button`.
void addInChooser(GtkWidget* picker, const char* button, const std::vector<std::string>& paths) {
  gtk_button_clicked(GTK_BUTTON(findWidget(
      picker, [button](GtkWidget* w) { return g_strcmp0(gtk_widget_get_name(w), button) == 0; })));
  GtkWidget* chooser = nullptr;
  ASSERT_TRUE(spin([&] { return (chooser = dialogOf(GTK_WINDOW(picker))) != nullptr; }, 10));
  for (const auto& path : paths) {
    gtk_file_chooser_select_filename(GTK_FILE_CHOOSER(chooser), path.c_str());
  }
  // Until it has read the folder, a folder chooser reports the folder itself as chosen.
  ASSERT_TRUE(spin(
      [&] {
        GSList* files = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(chooser));
        std::vector<std::string> chosen;
        for (GSList* f = files; f; f = f->next) chosen.emplace_back(static_cast<char*>(f->data));
        g_slist_free_full(files, g_free);
        return chosen == paths;
      },
      10));
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
}

TEST_F(PageFixture, PickedFoldersAndFilesComeBackInOrderAndCancelGivesAnEmptyList) {
  load("/dialogs.html");
  evaluate(view->view(),
           "window.picked = []; window.brivokPickedPaths = (p) => window.picked.push(p); 1");
  const auto quoted = dir / "say \"hi\"";
  const auto accented = dir / "caf\u00e9";
  std::filesystem::create_directories(quoted);
  std::filesystem::create_directories(accented);
  testing::writeFile(dir / "a.txt", "a");

  send(R"({"action":"pickPaths"})");
  send(R"({"action":"pickPaths"})");  // the same chooser comes forward
  GtkWidget* picker = chooser->dialog();
  ASSERT_TRUE(picker);
  EXPECT_EQ(dialogOf(window->window()), picker);
  GtkWidget* link = gtk_dialog_get_widget_for_response(GTK_DIALOG(picker), GTK_RESPONSE_ACCEPT);
  EXPECT_FALSE(gtk_widget_get_sensitive(link));
  // The keys start on a control that does something, not on the empty list.
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(picker));
  EXPECT_STREQ(focus ? gtk_widget_get_name(focus) : "", "add-files");
  addInChooser(picker, "add-folders", {quoted});
  // Return links, once there is something to (a focused button takes its own Return).
  EXPECT_EQ(gtk_window_get_default_widget(GTK_WINDOW(picker)), link);
  addInChooser(picker, "add-files", {dir / "a.txt"});
  addInChooser(picker, "add-folders", {accented});
  addInChooser(picker, "add-folders", {quoted});  // chosen twice, listed once
  ASSERT_TRUE(spin([&] { return !dialogOf(GTK_WINDOW(picker)); }, 5));
  gtk_dialog_response(GTK_DIALOG(picker), GTK_RESPONSE_ACCEPT);
  ASSERT_TRUE(spin([&] { return evaluate(view->view(), "window.picked.length") == "1"; }, 10));
  const auto picked = nlohmann::json::parse(*evaluate(view->view(), "window.picked[0]"));
  EXPECT_EQ(picked, (nlohmann::json{quoted, dir / "a.txt", accented}));

  send(R"({"action":"pickPaths"})");
  ASSERT_TRUE(chooser->dialog());
  gtk_widget_destroy(chooser->dialog());  // closed by the window manager
  ASSERT_TRUE(spin([&] { return evaluate(view->view(), "window.picked.length") == "2"; }, 10));
  EXPECT_EQ(evaluate(view->view(), "window.picked[1]"), "[]");
}

TEST(SignInPopups, OpenSizedCloseThemselvesAndEndWithTheSignIn) {
  TestSites sites;
  TempDir dir;
  WebKitSignInWindows windows(std::make_shared<WebKitStores>(dir / "data", dir / "cache"));
  const std::string page = sites.origin() + "/consent.html";
  bool ended = false;
  auto [c, view] =
      showSignIn(windows, page, "Consent", {}, "",
                 [&](const std::optional<nlohmann::json>&, const std::string&) { ended = true; });
  ASSERT_TRUE(view);
  GtkWidget* signIn = gtk_widget_get_toplevel(GTK_WIDGET(view));
  ASSERT_TRUE(waitForPage(view, page));
  auto popup = [&] {
    return findWindow([&](GtkWindow* w) {
      return GTK_WIDGET(w) != signIn &&
             findWidget(GTK_WIDGET(w), [](GtkWidget* x) { return WEBKIT_IS_WEB_VIEW(x); });
    });
  };

  // An alert does not hold the application: the loop runs and the page waits for the answer.
  clickAt(GTK_WIDGET(view), 100, 100);
  GtkWidget* alert = nullptr;
  ASSERT_TRUE(spin([&] { return (alert = dialogOf(GTK_WINDOW(signIn))) != nullptr; }, 10));
  EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(alert)));
  gtk_dialog_response(GTK_DIALOG(alert), GTK_RESPONSE_OK);
  ASSERT_TRUE(spin([&] { return evaluate(view, "window.alerted") == "true"; }, 10));

  clickAt(GTK_WIDGET(view), 100, 20);  // sized
  GtkWidget* sized = nullptr;
  ASSERT_TRUE(spin([&] { return (sized = popup()) != nullptr; }, 10));
  int w = 0, h = 0;
  gtk_window_get_default_size(GTK_WINDOW(sized), &w, &h);
  EXPECT_EQ(w, 400);
  EXPECT_EQ(h, 300);
  auto* popupView =
      WEBKIT_WEB_VIEW(findWidget(sized, [](GtkWidget* x) { return WEBKIT_IS_WEB_VIEW(x); }));
  ASSERT_TRUE(waitForPage(popupView, sites.origin() + "/popup.html"));
  clickAt(GTK_WIDGET(popupView), 100, 20);  // agrees and closes itself
  ASSERT_TRUE(spin([&] { return popup() == nullptr; }, 10));

  clickAt(GTK_WIDGET(view), 100, 60);  // no size given
  GtkWidget* plain = nullptr;
  ASSERT_TRUE(spin([&] { return (plain = popup()) != nullptr; }, 10));
  gtk_window_get_default_size(GTK_WINDOW(plain), &w, &h);
  EXPECT_EQ(w, 520);
  EXPECT_EQ(h, 680);
  c->cancelSignIn();
  ASSERT_TRUE(spin([&] { return ended && popup() == nullptr; }, 10));
}

TEST(SignInWindow, ReturnSendsTheSitesFormAndOnlyAReturnThePageLeavesFinishes) {
  TestSites sites;
  TempDir dir;
  WebKitSignInWindows windows(std::make_shared<WebKitStores>(dir / "data", dir / "cache"));
  const std::string page = sites.origin() + "/login.html";
  std::optional<nlohmann::json> answer;
  auto c = SignInController::create(windows, std::make_shared<GlibEventLoop>(), page, "Return",
                                    {"127.0.0.1"}, "");
  c->onFinish = [&](const std::optional<nlohmann::json>& r, const std::string&) { answer = r; };
  c->show();
  WebKitWebView* view = testing::webViewIn("Return");
  ASSERT_TRUE(view);
  ASSERT_TRUE(waitForPage(view, page));
  // The keys are the page's from the start, not the bar's.
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(gtk_widget_get_toplevel(GTK_WIDGET(view)))),
            GTK_WIDGET(view));
  evaluate(view, "user.value = 'ann'; pass.value = 'pw'; pass.focus(); 1");
  testing::pressKey(GTK_WIDGET(view), GDK_KEY_Return);
  ASSERT_TRUE(spin([&] { return evaluate(view, "state.textContent") == "\"signed in\""; }, 10));
  ASSERT_TRUE(spin([&] { return c->typed().size() == 2; }));
  testing::pause(0.5);
  EXPECT_FALSE(answer.has_value());
  EXPECT_FALSE(c->finished());
  // Nothing in the page takes it: the window's own default button does.
  evaluate(view, "document.activeElement.blur(); 1");
  testing::pressKey(GTK_WIDGET(view), GDK_KEY_Return);
  ASSERT_TRUE(spin([&] { return answer.has_value(); }, 10));
  EXPECT_EQ((*answer)["login"], (nlohmann::json{{"username", "ann"}, {"password", "pw"}}));
}

}  // namespace
}  // namespace brivok
