#include <gtk/gtk.h>
#include <signal.h>

#include <filesystem>
#include <set>

#include "GtkTestSupport.h"
#include "TempDir.h"
#include "app/AppDelegate.h"
#include "app/SettingsFile.h"
#include "bridge/NavigationPolicy.h"
#include "gtk/DesktopStyle.h"
#include "gtk/DesktopUrlOpener.h"
#include "gtk/GlibEventLoop.h"
#include "gtk/LoadLimit.h"
#include "gtk/WebKitMainView.h"
#include "gtk/WebKitOffscreenPages.h"
#include "gtk/WebKitSignInWindow.h"
#include "signin/SignInController.h"
#include "signin/SignInData.h"

namespace brivok {
namespace {

using testing::bodyText;
using testing::evaluate;
using testing::ShownWindow;
using testing::showSignIn;
using testing::spin;
using testing::TempDir;
using testing::TestSites;
using testing::waitForPage;
using testing::webViewIn;

TEST(MainView, OutsideAddressesGoToTheDesktopAndTheViewStays) {
  TestSites sites;
  auto view = std::make_shared<WebKitMainView>([](const PageMessage&) {});
  view->setHomeOrigins(homeOrigins(sites.origin()));
  view->setPageScript("");
  std::vector<std::string> opened;
  view->setOpenOutside([&opened](const std::string& url) { opened.push_back(url); });
  ShownWindow window(view->widget());
  window.present();
  const std::string page = sites.origin() + "/outside.html";
  view->loadUrl(page);
  ASSERT_TRUE(waitForPage(view->view(), page));
  const auto stays = [&] {
    return webkit_web_view_get_uri(view->view()) == page &&
           evaluate(view->view(), "document.title") == "\"Outside\"";
  };
  // A clicked link is handed on without the shell requesting it.
  testing::clickAt(view->widget(), 100, 20);
  ASSERT_TRUE(spin([&] { return opened.size() == 1; }, 5));
  EXPECT_EQ(opened[0], "http://127.0.0.2:" + sites.origin().substr(sites.origin().rfind(':') + 1) +
                           "/once?clicked");
  EXPECT_EQ(evaluate(view->view(),
                     "(() => { const x = new XMLHttpRequest(); x.open('GET', '/count', false); "
                     "x.send(); return x.responseText; })()"),
            "\"0\"");
  // Script navigations: a mail link, a host that does not answer; the page stays either way.
  for (const std::string url : {"mailto:someone@example.com", "http://down.invalid/x"}) {
    evaluate(view->view(), "location.href = '" + url + "'; 1");
    ASSERT_TRUE(spin([&] { return opened.back() == url; }, 20)) << url;
    testing::pause(0.3);
    EXPECT_TRUE(stays()) << url;
  }
  // The page may open outside addresses from its scripts, without a click.
  evaluate(view->view(),
           "fetch('/count').then(() => window.open('https://outside.example/after-fetch')); 1");
  ASSERT_TRUE(spin([&] { return opened.back() == "https://outside.example/after-fetch"; }, 5));
  evaluate(view->view(), "location.href = 'file:///etc/passwd'; 1");
  testing::pause(0.5);
  EXPECT_TRUE(stays());
  // The other site's frame sent itself to a mail link 20 times without a click: never handed on.
  EXPECT_EQ(std::count(opened.begin(), opened.end(), "mailto:frame@example.com"), 0);
  EXPECT_EQ(opened.size(), 4u);
}

TEST(MainView, OnlyTheBackendsOriginDrivesTheBridgeAndAnswersReachTheDocumentThatAsked) {
  TestSites sites, other;  // the backend's origin, and another server on this machine
  std::vector<PageMessage> messages;
  auto view = std::make_shared<WebKitMainView>(
      [&messages](const PageMessage& message) { messages.push_back(message); });
  view->setHomeOrigins(homeOrigins(sites.origin() + "/"));
  view->setPageScript("window.brivokNative = true; window.brivokPrefs = {};");
  ShownWindow window(view->widget());
  window.present();
  const auto open = [&](const std::string& url) {
    view->loadUrl(url);
    ASSERT_TRUE(waitForPage(view->view(), url));
  };
  const auto js = [&](const std::string& script) {
    return evaluate(view->view(), script).value_or("");
  };

  const std::string home = sites.origin() + "/bridge.html";
  open(home);
  EXPECT_EQ(js("window.brivokNative"), "true");
  js("send({action: 'tarvel', visible: true, rect: [1, 2.5, 300, 40], reload: false,"
     " label: 'caf\\u00e9 \"q\"'}); send('just text'); send(7); send([1, 2]);"
     " send({action: 'setPref', key: 'k', value: 5})");
  ASSERT_TRUE(spin([&] { return messages.size() >= 5; }, 10));
  auto first = nlohmann::json::parse(messages[0].json);
  EXPECT_EQ(first["visible"], true);
  EXPECT_EQ(first["rect"], nlohmann::json::parse("[1, 2.5, 300, 40]"));
  EXPECT_EQ(first["label"], "caf\xC3\xA9 \"q\"");
  EXPECT_EQ(messages[1].json, "\"just text\"");
  EXPECT_EQ(nlohmann::json::parse(messages[4].json)["value"], 5);  // the number stays a number
  const std::string asker = messages[0].document;
  EXPECT_EQ(asker.size(), 32u);
  for (const auto& m : messages) {
    EXPECT_EQ(m.origin, sites.origin());
    EXPECT_EQ(m.document, asker);
  }
  messages.clear();

  // An answer reaches the document named, as a call of its own global, and no other.
  js("window.got = []; window.brivokSignedIn = (v) => got.push(v); 1");
  view->callPage("another document", "brivokSignedIn", R"({"id":"x"})");
  view->callPage(asker, "brivokSignedIn", R"({"id":"a","n":[1,"\u00e9"]})");
  ASSERT_TRUE(spin([&] { return js("got.length") == "1"; }, 5));
  EXPECT_EQ(js("JSON.stringify(got)"),
            "\"[{\\\"id\\\":\\\"a\\\",\\\"n\\\":[1,\\\"\xC3\xA9\\\"]}]\"");

  // A frame of another origin finds no channel, and its tricks reach nothing.
  js("addFrame('" + sites.origin("localhost") + "/frame.html')");
  ASSERT_TRUE(spin([&] { return js("typeof window.frameReport") == "\"string\""; }));
  const auto report = nlohmann::json::parse(js("window.frameReport").c_str());
  EXPECT_EQ(nlohmann::json::parse(report.get<std::string>())["channel"], "undefined");
  js("send({action: 'pickPaths', marker: true})");
  ASSERT_TRUE(spin([&] { return !messages.empty(); }, 10));
  for (const auto& m : messages) EXPECT_EQ(m.json.find("from-frame"), std::string::npos) << m.json;
  EXPECT_EQ(nlohmann::json::parse(messages.back().json)["marker"], true);

  // A frame of another site that sends the main view elsewhere without a click stays alone.
  const std::string away = other.origin() + "/welcome.html";
  js("addFrame('" + sites.origin("127.0.0.2") + "/bust.html?to=' + encodeURIComponent('" + away +
     "'))");
  testing::pause(1.5);
  EXPECT_EQ(webkit_web_view_get_uri(view->view()), home);

  // The same page loaded again is a new document: what the old one asked for goes nowhere.
  open(home);
  js("window.got = []; window.brivokSignedIn = (v) => got.push(v); 1");
  view->callPage(asker, "brivokSignedIn", R"({"id":"late"})");
  testing::pause(0.5);
  EXPECT_EQ(js("got.length"), "0");

  // Another server on this machine stays in the view, as a page of the backend's may link
  // there, but gets neither the page script nor the channel; what it forges carries its origin.
  messages.clear();
  const std::string elsewhere = other.origin() + "/bridge.html";
  js("location.href = '" + elsewhere + "'; 1");
  ASSERT_TRUE(waitForPage(view->view(), elsewhere));
  EXPECT_EQ(js("typeof window.brivokNative"), "\"undefined\"");
  EXPECT_EQ(js("typeof (window.webkit && window.webkit.messageHandlers && "
               "window.webkit.messageHandlers.brivok)"),
            "\"undefined\"");
  js("document.dispatchEvent(new CustomEvent('brivok-bridge-message', "
     "{detail: '{\"action\":\"pickPaths\"}'})); 1");
  ASSERT_TRUE(spin([&] { return !messages.empty(); }, 5));
  EXPECT_EQ(messages.back().origin, other.origin());
}

TEST(SignInWindow, TypedLoginAndTheKeysCookiesComeBackAndOutliveARestart) {
  TestSites sites;
  testing::TempDir dir;
  const std::string page = sites.origin() + "/login.html";
  std::optional<nlohmann::json> answer;
  bool ended = false;
  auto finish = [&](const std::optional<nlohmann::json>& r, const std::string&) {
    answer = r;
    ended = true;
  };
  {
    WebKitSignInWindows windows(std::make_shared<WebKitStores>(dir / "data", dir / "cache"));
    auto [c, view] = showSignIn(windows, page, "Local sign-in", {"127.0.0.1"}, "acct", finish);
    ASSERT_TRUE(view);
    ASSERT_TRUE(waitForPage(view, page));
    evaluate(view,
             "document.getElementById('user').value = 'ann';"
             "document.getElementById('pass').value = 'p\u00e4\"ss';"
             "document.getElementById('go').click(); 1");
    ASSERT_TRUE(spin([&] { return c->typed().count("password") == 1; }));
    ASSERT_TRUE(spin([&] { return bodyText(view).find("signed in") != std::string::npos; }));
    testing::pause(0.5);  // cookies set by the page reach the store a moment later
    c->finishSignIn();
    ASSERT_TRUE(spin([&] { return ended; }));
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["login"],
              (nlohmann::json{{"username", "ann"}, {"password", "p\u00e4\"ss"}}));
    EXPECT_EQ((*answer)["title"], "Local login");
    std::set<std::string> names;
    for (const auto& cookie : (*answer)["cookies"]) names.insert(cookie["name"]);
    EXPECT_EQ(names, (std::set<std::string>{"sid", "visit"}));
    EXPECT_FALSE(webViewIn("Local sign-in"));  // hidden at the end
  }
  testing::pause(1.0);  // the cookie store writes behind
  // A new run: the same key finds the lasting cookie again; a session cookie would not matter.
  ended = false;
  answer.reset();
  WebKitSignInWindows windows(std::make_shared<WebKitStores>(dir / "data", dir / "cache"));
  auto [again, againView] = showSignIn(windows, page, "Again", {"127.0.0.1"}, "acct", finish);
  ASSERT_TRUE(waitForPage(againView, page));
  again->finishSignIn();
  ASSERT_TRUE(spin([&] { return ended; }));
  bool sid = false;
  for (const auto& cookie : (*answer)["cookies"]) sid = sid || cookie["name"] == "sid";
  EXPECT_TRUE(sid);
  // Forgetting the key empties its store under the open window.
  windows.forget("acct");
  testing::pause(1.0);
  ended = false;
  auto third = SignInController::create(windows, std::make_shared<GlibEventLoop>(), page, "Third",
                                        {"127.0.0.1"}, "acct");
  third->onFinish = finish;
  third->finishSignIn();
  ASSERT_TRUE(spin([&] { return ended; }));
  EXPECT_TRUE((*answer)["cookies"].empty());
}

TEST(DesktopStyle, TheDesktopsDarkStyleReachesTheWindowsAndThePagesLive) {
  TestSites sites;
  GSettings* desktop = g_settings_new("org.gnome.desktop.interface");
  g_settings_set_string(desktop, "color-scheme", "default");
  followDesktopColorScheme();
  auto view = std::make_shared<WebKitMainView>([](const PageMessage&) {});
  view->setHomeOrigins(homeOrigins(sites.origin()));
  ShownWindow window(view->widget());
  window.present();
  view->loadUrl(sites.origin() + "/welcome.html");
  ASSERT_TRUE(waitForPage(view->view(), sites.origin() + "/welcome.html"));
  const auto dark = [&] {
    gboolean prefers = FALSE;
    g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &prefers,
                 nullptr);
    return prefers &&
           evaluate(view->view(), "matchMedia('(prefers-color-scheme: dark)').matches") == "true";
  };
  EXPECT_FALSE(dark());
  g_settings_set_string(desktop, "color-scheme", "prefer-dark");
  EXPECT_TRUE(spin(dark, 5));
  g_settings_set_string(desktop, "color-scheme", "prefer-light");
  EXPECT_TRUE(spin([&] { return !dark(); }, 5));
  g_object_unref(desktop);
}

TEST(LoadLimit, ALoadStillRunningAtTheLimitIsGivenUp) {
  TestSites sites;
  WebKitWebView* view = WEBKIT_WEB_VIEW(webkit_web_view_new());
  ShownWindow window(GTK_WIDGET(view));
  window.present();
  LoadLimit limit(view, std::chrono::milliseconds(1500));
  limit.start();
  webkit_web_view_load_uri(view, (sites.origin() + "/slow?s=3").c_str());
  ASSERT_TRUE(spin([&] { return !webkit_web_view_is_loading(view); }, 2.8));
  EXPECT_TRUE(limit.gaveUp());
  // One that finishes in time is left alone, and the limit ends with it.
  limit.start();
  webkit_web_view_load_uri(view, (sites.origin() + "/render-static.html").c_str());
  ASSERT_TRUE(waitForPage(view, sites.origin() + "/render-static.html"));
  testing::pause(0.7);
  EXPECT_FALSE(limit.gaveUp());
}

TEST(SignInWindow, TheCapturedLoginIsTheOneTypedOnTheSiteItself) {
  TestSites sites;
  testing::TempDir dir;
  WebKitSignInWindows windows(std::make_shared<WebKitStores>(dir / "data", dir / "cache"));
  const std::string page = sites.origin() + "/login-framed.html";
  auto [c, view] = showSignIn(windows, page, "Framed", {"127.0.0.1"});
  ASSERT_TRUE(view);
  ASSERT_TRUE(waitForPage(view, page));
  const auto type = [&](const char* user, const char* password) {
    evaluate(view, std::string("user.value = '") + user + "'; pass.value = '" + password +
                       "'; go.click(); 1");
  };
  type("ann", "pw");
  ASSERT_TRUE(spin([&] { return c->typed().count("password") == 1; }));
  testing::pause(1.0);  // the frame of another site keeps posting and clicking meanwhile
  const std::map<std::string, std::string> ann{{"username", "ann"}, {"password", "pw"}};
  EXPECT_EQ(c->typed(), ann);
  // An identity provider on another origin: what is typed there is not the site's login.
  const std::string provider = sites.origin("localhost") + "/login.html";
  evaluate(view, "location.href = '" + provider + "'; 1");
  ASSERT_TRUE(waitForPage(view, provider));
  type("eve", "provider");
  testing::pause(0.5);
  EXPECT_EQ(c->typed(), ann);
  c->cancelSignIn();
}

}  // namespace
}  // namespace brivok

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
