#include <gtest/gtest.h>

#include "FakeEventLoop.h"
#include "FakeSignInWindows.h"
#include "core/Md5.h"
#include "signin/SignInController.h"
#include "signin/SignInData.h"

namespace brivok {
namespace {

using testing::FakeOffscreenPages;
using testing::FakePage;
using testing::FakeSignInWindow;
using testing::FakeSignInWindows;

TEST(SignInStore, IdentifiersAreStableVersion3Variant10Uuids) {
  EXPECT_EQ(signin::storeIdentifier("work"), "2FFA30A2-52CE-378F-B574-9EED0A4533B3");
  EXPECT_EQ(signin::storeIdentifier("personal@example.com"),
            "D59C5B24-345C-34A9-AC10-DD1E90B0EBFC");
  EXPECT_EQ(signin::storeIdentifier("ключ"), "BA406989-739B-3B92-9175-2ACFFAC9FB9B");
  EXPECT_EQ(signin::storeIdentifier(""), "");
  // The digest itself, across block boundaries.
  EXPECT_EQ(md5(std::string(200, 'a'))[15], 0x6c);
}

TEST(SignInCookies, DomainsMatchTheSiteAndItsSubdomainsOnly) {
  const std::vector<std::string> domains = {"example.com"};
  for (const char* yes :
       {"example.com", ".example.com", "EXAMPLE.com", ".Www.Example.COM", "a.b.c.example.com"}) {
    EXPECT_TRUE(signin::cookieMatches(yes, domains)) << yes;
  }
  for (const char* no : {"badexample.com", "example.com.evil.net", "example.co", "", ".", "com"}) {
    EXPECT_FALSE(signin::cookieMatches(no, domains)) << no;
  }
  EXPECT_FALSE(signin::cookieMatches("example.com", {}));
  // An entry written with a leading dot matches nothing.
  EXPECT_FALSE(signin::cookieMatches("example.com", {".example.com"}));
  EXPECT_FALSE(signin::cookieMatches(".example.com", {".example.com"}));
  EXPECT_EQ(signin::lowerCased({"B.com", "a.COM"}), (std::vector<std::string>{"b.com", "a.com"}));
}

TEST(SignInCookies, DictionariesFromTheBackendFollowTheTable) {
  const auto read = [](const char* json) {
    return cookieFromDictionary(nlohmann::json::parse(json));
  };
  const auto full = read(
      R"({"name":"sid","value":"v","domain":".a.example","path":"/x","secure":true,"expires":17.5})");
  ASSERT_TRUE(full);
  EXPECT_EQ(
      cookieDictionary(*full).dump(),
      R"({"domain":".a.example","expires":17.5,"name":"sid","path":"/x","secure":true,"value":"v"})");
  // Mistyped keys take their defaults: a string "secure" is no secure flag.
  const auto defaults = read(R"({"name":5,"domain":"a.example","secure":"true","expires":"soon"})");
  ASSERT_TRUE(defaults);
  EXPECT_EQ(cookieDictionary(*defaults).dump(),
            R"({"domain":"a.example","name":"","path":"/","secure":false,"value":""})");
  // Nothing a store could hold, or that would change the meaning of a cookie header.
  for (const char* bad :
       {R"({"name":"a"})", R"([1])", R"("x")", R"({"name":"a;b","value":"c","domain":"a.example"})",
        R"({"name":"a","value":"v\r\nSet-Cookie: x=1","domain":"a.example"})"}) {
    EXPECT_FALSE(read(bad)) << bad;
  }
}

struct ControllerTest : ::testing::Test {
  std::shared_ptr<testing::FakeEventLoop> loop = std::make_shared<testing::FakeEventLoop>();
  FakeSignInWindows windows;
  FakeOffscreenPages pages;
  std::vector<std::pair<std::optional<nlohmann::json>, std::string>> endings;

  std::shared_ptr<SignInController> make(
      std::optional<SignInController::AutoLogin> autoLogin = std::nullopt) {
    const std::string url = "https://login.example.com/start?x=1";
    auto c = autoLogin
                 ? SignInController::create(pages, loop, url, {"Example.COM"}, "work", *autoLogin)
                 : SignInController::create(windows, loop, url, "Sign in", {"Example.COM"}, "work");
    c->onFinish = [this](const std::optional<nlohmann::json>& r, const std::string& e) {
      endings.emplace_back(r, e);
    };
    return c;
  }
  FakeSignInWindow& window() { return *windows.windows.back(); }
  FakePage& page() { return *window().fakePage; }
};

TEST_F(ControllerTest, CapturedLoginKeepsEachNonEmptyValueTypedOnTheSiteItself) {
  auto c = make();
  const std::string on = R"(,"url":"https://www.example.com/login"})";
  c->loginMessage(R"({"username":"ann","password":"")" + on);
  c->loginMessage(R"({"username":"","password":"s3cret")" + on);
  c->loginMessage(R"({"username":5,"password":null)" + on);
  c->loginMessage("[1,2]");
  c->loginMessage("not json");
  // An identity provider the site sent the user to, another port, plain http, or no address:
  // what was typed there is not the site's login.
  for (const char* elsewhere : {"https://idp.example.net/login", "https://www.example.com:8443/",
                                "http://www.example.com/login", "about:blank"}) {
    c->loginMessage(R"({"username":"eve","password":"idp","url":")" + std::string(elsewhere) +
                    "\"}");
  }
  c->loginMessage(R"({"username":"eve","password":"idp"})");
  EXPECT_EQ(c->typed(),
            (std::map<std::string, std::string>{{"username", "ann"}, {"password", "s3cret"}}));
}

TEST_F(ControllerTest, ResultFiltersCookiesAndFollowsTheCheckbox) {
  auto c = make();
  page().currentUrl = "https://www.example.com/home";
  page().currentTitle = "Home";
  c->loginMessage(R"({"username":"ann","password":"pw","url":"https://login.example.com/"})");
  c->finishPressed();
  page().currentUrl = "https://changed.example.com/";  // read at the press, not later
  page().cookies->deliverCookies({{"a", "1", ".example.com", "/", true, {}},
                                  {"b", "2", "tracker.net", "/", false, {}},
                                  {"c", "3", "WWW.EXAMPLE.COM", "/", false, 5.5}});
  ASSERT_EQ(endings.size(), 1u);
  const auto& result = *endings[0].first;
  EXPECT_EQ(endings[0].second, "");
  EXPECT_EQ(result["url"], "https://www.example.com/home");
  EXPECT_EQ(result["title"], "Home");
  ASSERT_EQ(result["cookies"].size(), 2u);
  EXPECT_EQ(result["cookies"][0]["name"], "a");
  EXPECT_EQ(result["cookies"][1]["domain"], "WWW.EXAMPLE.COM");
  EXPECT_EQ(result["remember"], true);
  EXPECT_EQ(result["login"], (nlohmann::json{{"username", "ann"}, {"password", "pw"}}));
  EXPECT_TRUE(window().closed);
  EXPECT_TRUE(window().channelRemoved);
  EXPECT_EQ(window().popupsClosed, 1);

  auto onlyUser = make();
  onlyUser->loginMessage(R"({"username":"ann","password":"","url":"https://login.example.com/"})");
  onlyUser->finishPressed();
  page().cookies->deliverCookies({});
  EXPECT_EQ(
      endings.back().first->dump(),
      R"({"cookies":[],"remember":true,"title":"","url":"https://login.example.com/start?x=1"})");
  auto unticked = make();
  unticked->loginMessage(
      R"({"username":"ann","password":"pw","url":"https://login.example.com/"})");
  window().remember = false;
  unticked->finishPressed();
  page().cookies->deliverCookies({});
  EXPECT_EQ(endings.back().first->value("remember", true), false);
  EXPECT_FALSE(endings.back().first->contains("login"));
}

TEST_F(ControllerTest, APageWhoseWebProcessWentAwayIsNeverASignIn) {
  // In a window: said so, "I'm signed in" answers nothing until the page is loaded again.
  auto c = make();
  page().currentUrl = "https://login.example.com/step2";
  page().stop();
  EXPECT_TRUE(window().showsStopped);
  c->finishPressed();
  EXPECT_TRUE(page().cookies->pendingReads.empty());
  EXPECT_TRUE(endings.empty());
  window().events()->reloadPressed();
  EXPECT_FALSE(window().showsStopped);
  EXPECT_EQ(page().loads.back(), "https://login.example.com/step2");
  c->finishPressed();
  page().cookies->deliverCookies({});
  ASSERT_EQ(endings.size(), 1u);
  EXPECT_TRUE(endings[0].first);
  // By itself: the job ends at once.
  auto automatic = make(SignInController::AutoLogin{"u", "p", "login"});
  pages.offscreen.back().second->stop();
  ASSERT_EQ(endings.size(), 2u);
  EXPECT_EQ(endings[1],
            std::make_pair(std::optional<nlohmann::json>(), std::string(kPageStoppedError)));
}

TEST_F(ControllerTest, EndsExactlyOnceAndTheCallbackMayDropTheOwner) {
  // Pressed twice: one read answers, the second finds the sign-in ended.
  auto c = make();
  c->finishPressed();
  c->finishPressed();
  page().cookies->deliverCookies({});
  EXPECT_EQ(endings.size(), 1u);
  // Closed while the cookies are being read: the close wins, the late cookies do nothing.
  endings.clear();
  auto closing = make();
  closing->finishPressed();
  window().close();
  page().cookies->deliverCookies({});
  ASSERT_EQ(endings.size(), 1u);
  EXPECT_FALSE(endings[0].first);
  EXPECT_EQ(endings[0].second, "the sign-in window was closed");
  closing->cancelPressed();
  EXPECT_EQ(endings.size(), 1u);
  EXPECT_FALSE(closing->mayOpenPopup());

  auto dropped = make();
  std::weak_ptr<SignInController> weak = dropped;
  auto* raw = &window();
  dropped->onFinish = [&dropped](const std::optional<nlohmann::json>&, const std::string&) {
    dropped.reset();
  };
  dropped->cancelPressed();
  EXPECT_TRUE(weak.expired());
  EXPECT_TRUE(raw->closed);
  EXPECT_FALSE(raw->events());  // a window that reports later reaches nobody
}

TEST_F(ControllerTest, AddressLabelFollowsCommittedPages) {
  auto c = make();
  EXPECT_EQ(window().shown, 0);  // making the window never shows it
  EXPECT_EQ(window().options.key, "work");
  EXPECT_EQ(c->domains(), std::vector<std::string>{"example.com"});  // given as "Example.COM"
  EXPECT_EQ(window().options.address, "login.example.com");
  EXPECT_TRUE(window().options.secure);
  c->loadCommitted("https://accounts.other.org/step2");
  EXPECT_EQ(window().address, "accounts.other.org");
  EXPECT_TRUE(window().secure);
  // The padlock is for encrypted pages only.
  c->loadCommitted("http://accounts.other.org/plain");
  EXPECT_FALSE(window().secure);
  c->loadCommitted("about:blank");
  EXPECT_EQ(window().address, "");
  EXPECT_FALSE(window().secure);
  EXPECT_EQ(signin::addressLabel("data:text/html,hi"), "data:text/html,hi");
}

// The automatic timetable against a scripted site: each case gives what the page shows
// after a number of fills, and the outcome with the moment it comes.
TEST(AutoSignIn, Timetable) {
  struct Site {
    std::string url;
    bool loading = false;
    std::optional<nlohmann::json> probe;  // the password probe's answer
  };
  struct Case {
    const char* name;
    std::string pattern;
    Site before;    // what the page shows until `after` fills have been made
    int changesAt;  // -1: never changes
    Site after;
    std::string error;  // empty: ends with a result
    double endsAt;      // seconds after construction
    int fills;
  };
  const Site login{"https://login.example.com/signin", false, true};
  const Site home{"https://app.example.com/home", false, false};
  const Site userStep{login.url, false, false}, stillLoading{login.url, true, true};
  const Site idStart{"https://id.example.com/start", false, true};
  const Site idLogin{"https://id.example.com/Login", false, false};
  const Site backtracks{"https://x.example.com/" + std::string(30, 'a') + "!", false, "yes"};
  const Site probeFails{login.url, false, std::nullopt};
  const Site otherLogin{"https://login.example.net/signin", false, true};
  const Site otherHome{"https://example.com.evil.org/home", false, false};
  const auto attempts = SignInController::kAttemptsError;
  const auto elsewhere = SignInController::kElsewhereError;
  const auto timeout = SignInController::kTimeoutError;
  const Case cases[] = {
      {"still signed in", "login", home, -1, {}, "", 2.0, 0},
      {"lets in after one fill", "login", login, 1, home, "", 6.0, 1},
      {"asks again and again", "login", login, -1, {}, attempts, 18.0, 4},
      {"never stops loading", "login", stillLoading, -1, {}, timeout, 92.0, 0},
      {"password field on an address the pattern misses", "login", idStart, 1, home, "", 6.0, 1},
      {"username-only step on a login address", "login", userStep, 2, home, "", 10.0, 2},
      {"capitals in the address still match", "login", idLogin, 1, home, "", 6.0, 1},
      {"an uncompilable pattern leaves the probe to decide", "(", userStep, -1, {}, "", 2, 0},
      {"endless backtracking matches nothing", "(a+)+$", backtracks, -1, {}, "", 2, 0},
      {"a probe that fails counts as no password", "nomatch", probeFails, -1, {}, "", 2.0, 0},
      // A stored login is typed on its own site only, and never ends anywhere else with a result.
      {"a login page on another site", "login", otherLogin, -1, {}, elsewhere, 2.0, 0},
      {"lets in on another site", "login", login, 1, otherHome, elsewhere, 6.0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto loop = std::make_shared<testing::FakeEventLoop>();
    FakeOffscreenPages windows;
    std::optional<std::pair<std::optional<nlohmann::json>, std::string>> ending;
    const auto start = loop->now();
    double endedAt = -1;
    auto controller =
        SignInController::create(windows, loop, "https://login.example.com/", {"example.com"}, "k",
                                 SignInController::AutoLogin{"u", "p", c.pattern});
    controller->onFinish = [&](const std::optional<nlohmann::json>& r, const std::string& e) {
      ending.emplace(r, e);
      endedAt = std::chrono::duration<double>(loop->now() - start).count();
    };
    auto& page = *windows.offscreen.back().second;
    EXPECT_EQ(windows.offscreen.back().first.key, "k");  // the key's own store, no window
    EXPECT_TRUE(windows.offscreen.back().first.newWindowsInPlace);  // its flow stays in one page
    int fills = 0;
    for (int step = 0; step < 1000 && !ending; ++step) {
      const Site& now = c.changesAt >= 0 && fills >= c.changesAt ? c.after : c.before;
      page.currentUrl = now.url;
      page.loading = now.loading;
      page.answer(now.probe, "bvFields().password; })()");
      fills += page.answer(std::nullopt, "const [u, p]");
      page.cookies->deliverCookies({{"s", "1", "example.com", "/", false, {}}});
      loop->advance(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(ending);
    EXPECT_EQ(ending->second, c.error);
    EXPECT_EQ(ending->first.has_value(), c.error.empty());
    if (ending->first) {
      EXPECT_EQ((*ending->first)["cookies"].size(), 1u);
    }
    EXPECT_NEAR(endedAt, c.endsAt, 0.15);
    EXPECT_EQ(fills, c.fills);
    EXPECT_LE(controller->autoSteps(), SignInController::kAutoAttempts);
    EXPECT_TRUE(page.closed);  // its web process goes with it
    EXPECT_EQ(loop->pendingTimers(), 0u);
  }
}

TEST(AutoSignIn, TheStoredLoginStaysWithItsSite) {
  auto loop = std::make_shared<testing::FakeEventLoop>();
  FakeOffscreenPages windows;
  std::vector<std::pair<std::optional<nlohmann::json>, std::string>> endings;
  EXPECT_EQ(SignInController::addressText("https://Acc.Example.com:8443/a%20b/Login?next=/x#f"),
            "Acc.Example.com/a b/Login");
  EXPECT_EQ(SignInController::addressText("not a url"), "");
  // Where the login may be typed: the job address's scheme and port, on its host or within a
  // listed domain by whole labels; an IP address only as itself.
  auto c = SignInController::create(windows, loop, "http://127.0.0.1:8000/login", {"127.0.0.1"}, "",
                                    SignInController::AutoLogin{"u", "p", "login"});
  c->onFinish = [&](const std::optional<nlohmann::json>& r, const std::string& e) {
    endings.emplace_back(r, e);
  };
  const auto web = SignInController::Site::of("https://www.example.com/login",
                                              {"example.com", "0.0.2", "10.0.0.1"});
  const auto local = SignInController::Site::of("http://127.0.0.1:8000/login", {"127.0.0.1"});
  const struct {
    const SignInController::Site& site;
    const char* url;
    bool on;
  } places[] = {
      {web, "https://www.example.com/other", true},
      {web, "https://id.example.com/", true},
      {web, "https://EXAMPLE.com:443/", true},
      {web, "https://example.com:444/", false},
      {web, "http://www.example.com/", false},  // never over plain http
      {web, "https://notexample.com/", false},
      {web, "https://example.com.evil.org/", false},
      {web, "https://10.0.0.1/", true},
      {web, "https://127.0.0.2/", false},  // "0.0.2" is no domain of an address
      {web, "https://a.0.0.2/", false},
      {web, "about:blank", false},
      {web, "data:text/html,x", false},
      {local, "http://127.0.0.1:8000/other", true},
      {local, "http://127.0.0.1:8001/login", false},
      {local, "https://127.0.0.1:8000/login", false},
      {local, "http://localhost:8000/login", false},
      {local, "http://127.0.0.2:8000/login", false},
  };
  for (const auto& p : places) {
    EXPECT_EQ(p.site.contains(p.url), p.on) << p.url;
  }
  // A page elsewhere ends the sign-in as soon as it commits.
  c->loadCommitted("http://127.0.0.1:8000/login");
  EXPECT_TRUE(endings.empty());
  c->loadCommitted("http://127.0.0.2:8000/login");
  ASSERT_EQ(endings.size(), 1u);
  EXPECT_EQ(endings[0].second, SignInController::kElsewhereError);
  EXPECT_FALSE(endings[0].first);
}

TEST(AutoSignIn, ASecretIsMaskedHoweverAnAddressEncodesIt) {
  const struct {
    const char* text;
    const char* secret;
    const char* masked;
  } cases[] = {
      {"a=s3cret&b=1", "s3cret", "a=********&b=1"},
      {"a=%73%33cret", "s3cret", "a=********"},
      {"a=%E2%82%ACuro+x", "\u20acuro x", "a=********"},
      {"a=%e2%82%acuro%20x", "\u20acuro x", "a=********"},
      {"s3cret s3cret", "s3cret", "******** ********"},
      {"aaaa", "aa", "********"},  // overlapping finds share one mask
      {"nothing here", "s3cret", "nothing here"},
      {"empty secret", "", "empty secret"},
      {"cut %7", "%7", "cut ********"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(signin::withoutSecret(c.text, c.secret), c.masked) << c.text;
  }
}

}  // namespace
}  // namespace brivok
