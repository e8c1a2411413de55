#include <gtk/gtk.h>

#include <filesystem>
#include <fstream>

#include "GtkTestSupport.h"
#include "TempDir.h"
#include "gtk/GlibEventLoop.h"
#include "gtk/WebKitOffscreenPages.h"
#include "gtk/WebKitSignInWindow.h"
#include "jobs/PageRenderer.h"
#include "signin/SignInController.h"
#include "signin/SignInData.h"

namespace brivok {
namespace {

using testing::pause;
using testing::spin;
using testing::TempDir;
using testing::TestSites;

// Real off-screen renders of the local pages, all at once; each case says what the report
// holds, or that there is none.
TEST(Renderer, LocalPagesAsABrowserShowsThem) {
  TestSites sites;
  TempDir dir;
  const std::string home = dir / "home";
  std::filesystem::create_directories(home);
  const std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", home.c_str(), 1);  // where a download would land
  auto loop = std::make_shared<GlibEventLoop>();
  WebKitOffscreenPages pages(
      std::make_shared<WebKitStores>(dir / "data", dir / "cache", std::chrono::seconds(0)));
  const std::string o = sites.origin();
  // What each report must hold: null for no report, "*" for anything. A key ending in "~"
  // asks that the text contain the value, in "!" that it not; "length" is the text's length;
  // "@" stands for the sites' origin.
  const struct {
    const char* name;
    std::string url;
    std::string expected;
    std::vector<Cookie> cookies = {};
  } cases[] = {
      {"static", "@/render-static.html",
       R"({"title":"Static page","text":"Quarterly report\n\nRevenue grew by four percent."})"},
      {"redirect", "@/redirect?to=/render-static.html", R"({"url":"@/render-static.html"})"},
      {"grows on scroll", "@/render-scroll.html", R"({"text~":"Loaded on scroll"})"},
      {"empty body", "@/render-empty.html", R"({"text":"","title":"Nothing here"})"},
      {"never settles", "@/render-restless.html", R"({"text~":"tick"})"},
      {"longer than 200000", "@/render-long.html", R"({"length":200000,"text!":"TAIL"})"},
      {"lone surrogates", "@/render-surrogates.html", R"({"title":"a\uFFFDb","text":"x\uFFFDy"})"},
      {"a pair at the cut, a 40 MB title", "@/render-split.html",
       R"({"length":199999,"titleLength":200000})"},
      {"dialogs and windows on load", "@/render-alert.html",
       R"({"text":"after the dialogs, visible: visible, frames run"})"},
      {"a handed cookie",
       "@/needs-cookie",
       R"({"text":"sid=42"})",
       {{"sid", "42", "127.0.0.1", "/", false, {}}}},
      {"a download", "@/download", "null"},
      {"a page that saves files", "@/render-download.html", "*"},
      {"a refused port", "http://127.0.0.1:1/", "null"},
      {"no such host", "http://nowhere.invalid/", "null"},
      {"a script that never yields", "@/render-spin.html", "null"},
      {"a page that writes its own report", "@/render-forge.html",
       R"({"title":"Real title","url":"@/render-forge.html","text":"Real text"})"},
  };
  const auto withOrigin = [&](std::string text) {
    for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + o.size()))
      text.replace(at, 1, o);
    return text;
  };
  std::vector<std::shared_ptr<PageRenderer>> renderers;
  std::vector<std::optional<std::optional<nlohmann::json>>> outcomes(std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    renderers.push_back(
        PageRenderer::create(pages, loop, withOrigin(cases[i].url), "", cases[i].cookies,
                             [&outcomes, i](const std::optional<nlohmann::json>& page,
                                            const std::string&) { outcomes[i] = page; }));
  }
  const auto allDone = [&] {
    return std::all_of(outcomes.begin(), outcomes.end(),
                       [](const auto& o) { return o.has_value(); });
  };
  ASSERT_TRUE(spin(allDone, 60));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const auto& page = *outcomes[i];
    if (cases[i].expected == "*") continue;
    const auto wanted = nlohmann::json::parse(withOrigin(cases[i].expected));
    ASSERT_EQ(page.has_value(), !wanted.is_null());
    if (!page) continue;
    EXPECT_EQ(page->size(), 3u) << page->dump();  // title, url and text: nothing else
    const std::string text = page->value("text", "");
    for (const auto& [key, value] : wanted.items()) {
      if (key == "text~") {
        EXPECT_NE(text.find(value.get<std::string>()), std::string::npos) << value;
      } else if (key == "text!") {
        EXPECT_EQ(text.find(value.get<std::string>()), std::string::npos) << value;
      } else if (key == "length") {
        EXPECT_EQ(text.size(), value.get<std::size_t>());
      } else if (key == "titleLength") {
        EXPECT_EQ(page->value("title", "").size(), value.get<std::size_t>());
      } else {
        EXPECT_EQ((*page)[key], value) << key;
      }
    }
  }
  setenv("HOME", oldHome.c_str(), 1);
  // Nothing was downloaded, and no window ever showed.
  for (const auto& e : std::filesystem::recursive_directory_iterator(home)) {
    EXPECT_EQ(e.path().string().find("x.bin"), std::string::npos) << e.path();
    EXPECT_EQ(e.path().string().find("Downloads"), std::string::npos) << e.path();
  }
  EXPECT_FALSE(testing::findWindow([](GtkWindow* w) { return !GTK_IS_OFFSCREEN_WINDOW(w); }));

  // Every job starts as on a fresh view of its key's store: nothing of an earlier job's session
  // (history, session storage, window name, HTTP authentication, cookies of a throw-away
  // store), only what the key's store keeps by design.
  const auto renderPage = [&](const std::string& url, const std::string& key,
                              std::vector<Cookie> cookies = {}) {
    std::optional<std::optional<nlohmann::json>> outcome;
    auto renderer = PageRenderer::create(
        pages, loop, url, key, std::move(cookies),
        [&](const std::optional<nlohmann::json>& page, const std::string&) { outcome = page; });
    EXPECT_TRUE(spin([&] { return outcome.has_value(); }, 30));
    return outcome && *outcome ? **outcome : nlohmann::json{{"text", "(nothing)"}};
  };
  const auto renderAlone = [&](const std::string& url, const std::string& key,
                               std::vector<Cookie> cookies = {}) {
    return renderPage(url, key, std::move(cookies)).value("text", "");
  };
  // A page that takes memory without end, never yielding, is ended at its limit.
  std::string hogError;
  auto hog = PageRenderer::create(
      pages, loop, o + "/render-hog.html", "", {},
      [&](const std::optional<nlohmann::json>&, const std::string& e) { hogError = e; });
  EXPECT_TRUE(spin([&] { return !hogError.empty(); }, 40));
  EXPECT_EQ(hogError, kPageStoppedError);
  hog.reset();

  for (const std::string key : {"", "clean"}) {
    SCOPED_TRACE(key);
    renderAlone(o + "/session-set.html", key);
    EXPECT_EQ(renderAlone(o + "/session-read.html", key), key.empty() ? "1|||" : "1|||kept");
  }
  EXPECT_EQ(renderAlone(o + "/needs-cookie", "", {{"sid", "42", "127.0.0.1", "/", false, {}}}),
            "sid=42");
  EXPECT_EQ(renderAlone(o + "/needs-cookie", ""), "no cookie");
  const std::string port = o.substr(o.rfind(':') + 1);
  EXPECT_EQ(renderAlone("http://u:p@127.0.0.1:" + port + "/basic", ""), "authorized");
  EXPECT_EQ(renderAlone(o + "/basic", ""), "denied");
  // A job's credentials serve that job alone, whatever its key, and never reach its report.
  const auto authorized =
      renderPage("http://u:p@127.0.0.1:" + port + "/redirect?to=/basic", "bank");
  EXPECT_EQ(authorized.value("text", ""), "authorized");
  EXPECT_EQ(authorized.value("url", ""), o + "/basic");
  EXPECT_EQ(renderAlone(o + "/basic", "bank"), "denied");

  // A key with no page left lets its store and network process go; its data stays on disk.
  const auto networkProcesses = [] {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
      std::ifstream comm(e.path() / "comm");
      std::string name;
      if (std::getline(comm, name) && name.rfind("WebKitNetwork", 0) == 0) ++n;
    }
    return n;
  };
  spin([] { return false; }, 1);
  const int before = networkProcesses();
  const double nextYear = static_cast<double>(time(nullptr) + 365 * 24 * 3600);
  for (int i = 0; i < 5; ++i) {
    renderAlone(o + "/needs-cookie", "idle-" + std::to_string(i),
                {{"n", std::to_string(i), "127.0.0.1", "/", false, nextYear}});
  }
  EXPECT_TRUE(spin([&] { return networkProcesses() <= before; }, 20))
      << networkProcesses() << " network processes, " << before << " before";
  EXPECT_EQ(renderAlone(o + "/needs-cookie", "idle-3"), "n=3");
}

// Automatic sign-in against the local sites, all at once.
TEST(AutoSignIn, SignsInByItselfOrSaysWhyNot) {
  TestSites sites;
  TempDir dir;
  auto loop = std::make_shared<GlibEventLoop>();
  WebKitOffscreenPages pages(std::make_shared<WebKitStores>(dir / "data", dir / "cache"));
  const std::string o = sites.origin();
  using Outcome = std::pair<std::optional<nlohmann::json>, std::string>;
  std::map<std::string, std::shared_ptr<SignInController>> running;
  std::map<std::string, Outcome> outcomes;
  const auto run = [&](const std::string& name, const std::string& url, const std::string& key,
                       const std::string& password) {
    auto c =
        SignInController::create(pages, loop, url, {"127.0.0.1"}, key,
                                 SignInController::AutoLogin{"ann@example.com", password, "login"});
    c->onFinish = [&, name](const std::optional<nlohmann::json>& r, const std::string& e) {
      outcomes[name] = {r, e};
      running.erase(name);
    };
    running[name] = c;
  };
  const std::string password = "s3cret \"q\"";
  run("one step", o + "/auto-gate?login=/login-one.html", "one", password);
  run("two steps", o + "/auto-gate?login=/login-step1.html", "two", password);
  run("verification", o + "/auto-gate?login=/login-verify.html", "verify", password);
  ASSERT_TRUE(spin([&] { return running.empty(); }, 60));
  for (const char* name : {"one step", "two steps"}) {
    SCOPED_TRACE(name);
    const auto& [result, error] = outcomes.at(name);
    EXPECT_EQ(error, "");
    ASSERT_TRUE(result);
    EXPECT_EQ((*result)["title"], "Welcome back");
    ASSERT_EQ((*result)["cookies"].size(), 1u);
    EXPECT_EQ((*result)["cookies"][0]["name"], "session");
    EXPECT_FALSE(result->contains("login"));
  }
  EXPECT_EQ(outcomes.at("verification").second, SignInController::kAttemptsError);
  // A login page that moved to another site never gets the password, and the job fails: nor
  // does another port of a listed host.
  TestSites other;
  run("elsewhere", o + "/redirect?to=" + sites.origin("127.0.0.2") + "/login-thief.html", "",
      password);
  run("another port", o + "/redirect?to=" + other.origin() + "/login-thief.html", "", password);
  // A form sent by GET leaves the password in the address; the site shows it as its title.
  run("sent by GET", o + "/login-get.html", "", password);
  ASSERT_TRUE(spin([&] { return running.empty(); }, 30));
  EXPECT_EQ(outcomes.at("elsewhere"), Outcome(std::nullopt, SignInController::kElsewhereError));
  EXPECT_EQ(outcomes.at("another port"), Outcome(std::nullopt, SignInController::kElsewhereError));
  pause(0.3);
  EXPECT_EQ(sites.fetch("/leaks"), "");
  EXPECT_EQ(other.fetch("/leaks"), "");
  const auto& [sent, error] = outcomes.at("sent by GET");
  ASSERT_TRUE(sent) << error;
  EXPECT_EQ((*sent)["title"], signin::kSecretMask);
  const std::string address = (*sent)["url"];
  EXPECT_EQ(address.find("s3cret"), std::string::npos) << address;
  EXPECT_NE(address.find("password=********"), std::string::npos) << address;
  // The key's store keeps the site's cookie: the next time the site lets it straight in.
  run("again", o + "/auto-gate?login=/login-one.html", "one", "wrong");
  ASSERT_TRUE(spin([&] { return running.empty(); }, 20));
  EXPECT_EQ(outcomes.at("again").second, "");
  EXPECT_FALSE(testing::findWindow([](GtkWindow* w) { return !GTK_IS_OFFSCREEN_WINDOW(w); }));
}

}  // namespace
}  // namespace brivok
