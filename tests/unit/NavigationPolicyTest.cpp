#include <gtest/gtest.h>

#include "FakeEventLoop.h"
#include "RecordingOpener.h"
#include "bridge/LoopbackProxy.h"
#include "bridge/NavigationPolicy.h"
#include "bridge/RateLimitedOpener.h"

namespace brivok {
namespace {

TEST(NavigationPolicy, TableOfAddresses) {
  struct Case {
    const char* url;
    bool newWindow;
    const char* domain;
    bool gesture;
    Navigation navigation;
    Navigation response;  // also the answer to a failed main-frame load
  };
  using N = Navigation;
  const Case cases[] = {
      {"", false, "", false, N::Cancel, N::Cancel},
      {"about:blank", false, "", false, N::Allow, N::Allow},
      {"ABOUT:srcdoc", false, "", false, N::Allow, N::Allow},
      {"http://127.0.0.1:8123/x", false, "", false, N::Allow, N::Allow},
      {"https://localhost/", true, "", false, N::Allow, N::Allow},
      {"http://LOCALHOST/", false, "", false, N::AtResponse, N::OpenOutside},  // exact hosts
      {"https://other.example/", false, "", true, N::AtResponse, N::OpenOutside},
      {"https://other.example/", true, "", false, N::OpenOutside, N::OpenOutside},
      // A mail link goes at once only when the user asked for it; a frame's own navigation
      // without a click is never handed on, the main frame's is at its failed load.
      {"mailto:a@b.example", false, "", true, N::OpenOutside, N::OpenOutside},
      {"mailto:a@b.example", false, "", false, N::AtResponse, N::OpenOutside},
      {"file:///etc/passwd", true, "", true, N::Cancel, N::Cancel},
      {"file:///etc/passwd", false, "", true, N::AtResponse, N::Cancel},
      {"smb://share/x.desktop", true, "", true, N::Cancel, N::Cancel},
      // The secondary site's own view keeps its domain and subdomains inside.
      {"https://app.tarvel.example/", false, "tarvel.example", false, N::Allow, N::Allow},
      {"https://tarvel.example/", true, "tarvel.example", false, N::Allow, N::Allow},
      {"https://eviltarvel.example/", false, "tarvel.example", false, N::AtResponse,
       N::OpenOutside},
      {"https://tarvel.example.evil.net/", false, "tarvel.example", false, N::AtResponse,
       N::OpenOutside},
  };
  for (const auto& c : cases) {
    NavigationRequest request;
    request.url = c.url;
    request.newWindow = c.newWindow;
    request.insideDomain = c.domain;
    request.userGesture = c.gesture;
    EXPECT_EQ(decideNavigation(request), c.navigation) << c.url;
    EXPECT_EQ(decideMainFrameResponse(request), c.response) << c.url;
  }
}

TEST(NavigationPolicy, HomeOriginsAndFramesThatWouldTakeTheMainViewElsewhere) {
  const std::vector<std::string> home{"http://127.0.0.1:4100", "http://localhost:4100"};
  EXPECT_EQ(homeOrigins("http://127.0.0.1:4100/ui/"), home);
  EXPECT_EQ(homeOrigins("http://LOCALHOST:4100"),
            (std::vector<std::string>{"http://localhost:4100", "http://127.0.0.1:4100"}));
  EXPECT_EQ(homeOrigins("http://127.0.0.1:80/"),
            (std::vector<std::string>{"http://127.0.0.1", "http://localhost"}));
  EXPECT_EQ(homeOrigins("http://[::1]:4100/"), std::vector<std::string>{"http://[::1]:4100"});
  EXPECT_TRUE(homeOrigins("not a url").empty());

  struct Case {
    const char* url;
    const char* initiator;  // who started it, as the referrer says
    bool byUser;
    Navigation response;
  };
  using N = Navigation;
  const char* shown = "http://127.0.0.1:4100";
  const Case cases[] = {
      // The page on screen, and frames of its own origin, go where the usual rules let them.
      {"http://127.0.0.1:4200/", shown, false, N::Allow},
      {"http://localhost:4100/x", "http://localhost:4100", false, N::Allow},
      {"https://other.example/", shown, false, N::OpenOutside},
      // A frame of another origin, unasked, takes the main view nowhere.
      {"http://127.0.0.1:4200/", "http://127.0.0.2:4300", false, N::Cancel},
      {"http://127.0.0.1:4100/", "http://127.0.0.2:4300", false, N::Cancel},
      {"https://other.example/", "https://ads.example", false, N::Cancel},
      // …unless the user clicked, pressed a key, went back or reloaded.
      {"http://127.0.0.1:4200/", "http://127.0.0.2:4300", true, N::Allow},
      {"https://other.example/", "https://ads.example", true, N::OpenOutside},
      // Unknown starters (the shell's own loads, a withheld referrer) reach home only.
      {"http://127.0.0.1:4100/ui/", "", false, N::Allow},
      {"http://localhost:4100/ui/", "", false, N::Allow},
      {"http://127.0.0.1:4200/", "", false, N::Cancel},
      {"https://other.example/", "", false, N::Cancel},
      {"about:blank", "http://127.0.0.2:4300", false, N::Allow},  // the status page
  };
  for (const auto& c : cases) {
    NavigationRequest request;
    request.url = c.url;
    request.guardTop = true;
    request.byUser = c.byUser;
    request.initiator = c.initiator;
    request.shownOrigin = shown;
    request.homeOrigins = home;
    EXPECT_EQ(decideMainFrameResponse(request), c.response) << c.url << " from " << c.initiator;
    request.guardTop = false;  // the secondary site's view keeps the plain rules
    if (c.response == N::Cancel) {
      EXPECT_NE(decideMainFrameResponse(request), N::Cancel) << c.url;
    }
  }
}

TEST(RateLimitedOpener, ABurstThenOneEveryTwoSeconds) {
  auto loop = std::make_shared<testing::FakeEventLoop>();
  auto inner = std::make_shared<testing::RecordingOpener>();
  RateLimitedOpener opener(inner, loop);
  for (int i = 0; i < 100; ++i) opener.open("mailto:" + std::to_string(i));
  EXPECT_EQ(inner->opened.size(), 4u);
  loop->advance(std::chrono::milliseconds(1999));
  opener.open("mailto:early");
  EXPECT_EQ(inner->opened.size(), 4u);
  loop->advance(std::chrono::milliseconds(1));
  opener.open("mailto:due");
  opener.open("mailto:over");
  EXPECT_EQ(inner->opened.back(), "mailto:due");
  // A quiet minute earns the burst back, never more.
  loop->advance(std::chrono::seconds(60));
  for (int i = 0; i < 10; ++i) opener.open("https://a.example/");
  EXPECT_EQ(inner->opened.size(), 9u);
}

// What a page no one watches may load: web pages in place, nothing that reaches the desktop,
// and a new window only where the page's flow needs one (then in the same page).
TEST(NavigationPolicy, PagesNoOneWatches) {
  using U = UnwatchedNavigation;
  const struct {
    const char* url;
    bool newWindow, inPlace;
    U expected;
  } cases[] = {
      {"https://a.example/", false, false, U::Allow},
      {"HTTP://a.example/x", false, false, U::Allow},
      {"about:blank", false, false, U::Allow},
      {"data:text/html,<p>x|y</p>", false, false, U::Allow},  // as the engine writes it
      {"blob:https://a.example/0b1d", false, false, U::Allow},
      {"mailto:a@example.com", false, false, U::Refuse},
      {"file:///etc/passwd", false, false, U::Refuse},
      {"javascript:alert(1)", false, false, U::Refuse},
      {"", false, false, U::Refuse},
      {"https://popup.example/", true, false, U::Refuse},
      {"https://popup.example/", true, true, U::LoadInPlace},
      {"mailto:a@example.com", true, true, U::Refuse},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decideUnwatchedNavigation(c.url, c.newWindow, c.inPlace), c.expected) << c.url;
  }
  EXPECT_TRUE(isWebAddress("Https://a/"));
  EXPECT_FALSE(isWebAddress("about:blank"));
}

// The user's proxies written out with this machine reached directly; nothing where there is
// no proxy, or one the shell cannot write out.
TEST(LoopbackProxy, TheUsersProxiesWithThisMachineDirect) {
  using Env = std::map<std::string, std::string>;
  const auto loopback = [](std::vector<std::string> hosts) {
    hosts.insert(hosts.end(), kLoopbackHosts.begin(), kLoopbackHosts.end());
    return hosts;
  };
  DesktopProxy manual;
  manual.mode = "manual";
  manual.httpHost = "p.corp";
  manual.httpPort = 8080;
  manual.socksHost = "s.corp";
  manual.socksPort = 1080;
  manual.ignoreHosts = {"intra.corp"};
  DesktopProxy automatic;
  automatic.mode = "auto";
  DesktopProxy none;
  none.mode = "none";
  const struct {
    const char* name;
    Env env;
    std::optional<DesktopProxy> desktop;
    std::optional<ProxyChoice> expected;
  } cases[] = {
      {"no proxy anywhere", {}, none, std::nullopt},
      {"http only, without a scheme",
       {{"http_proxy", " proxy:3128 "}},
       std::nullopt,
       ProxyChoice{"", {{"http", "http://proxy:3128"}}, loopback({})}},
      {"upper case and all_proxy",
       {{"HTTPS_PROXY", "http://p:1"},
        {"ALL_PROXY", "socks5://s:2"},
        {"no_proxy", " a.example , .b ,"}},
       none,
       ProxyChoice{"socks5://s:2", {{"https", "http://p:1"}}, loopback({"a.example", ".b"})}},
      {"no_proxy * turns every proxy off",
       {{"http_proxy", "p:1"}, {"NO_PROXY", "*"}},
       none,
       std::nullopt},
      {"the desktop's manual settings",
       {{"http_proxy", "env:1"}},
       manual,
       ProxyChoice{
           "socks://s.corp:1080", {{"http", "http://p.corp:8080"}}, loopback({"intra.corp"})}},
      {"a configuration script is left to the desktop",
       {{"http_proxy", "p:1"}},
       automatic,
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(proxiesKeepingLoopbackDirect(c.env, c.desktop), c.expected);
  }
}

}  // namespace
}  // namespace brivok
