#include <gtest/gtest.h>

#include "FakeSignInWindows.h"
#include "core/Md5.h"
#include "signin/SignInController.h"
#include "signin/SignInData.h"

namespace brivok {
namespace {

using testing::FakeSignInWindow;
using testing::FakeSignInWindows;

TEST(SignInStore, IdentifiersAreStableVersion3Variant10Uuids) {
  EXPECT_EQ(signin::storeIdentifier("work"), "2FFA30A2-52CE-378F-B574-9EED0A4533B3");
  EXPECT_EQ(signin::storeIdentifier("personal@example.com"),
            "D59C5B24-345C-34A9-AC10-DD1E90B0EBFC");
  EXPECT_EQ(signin::storeIdentifier("ключ"), "BA406989-739B-3B92-9175-2ACFFAC9FB9B");
  EXPECT_EQ(signin::storeIdentifier(""), "");
  // The digest itself, across block boundaries.
  const auto empty = md5("");
  EXPECT_EQ(empty[0], 0xd4);
  EXPECT_EQ(empty[15], 0x7e);
  const auto long_ = md5(std::string(200, 'a'));
  EXPECT_EQ(long_[0], 0x88);
  EXPECT_EQ(long_[15], 0x6c);
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

TEST(SignInCookies, DictionaryCarriesExpiryOnlyWhenThereIsOne) {
  Cookie session{"sid", "v=1", ".Example.com", "/", true, std::nullopt};
  EXPECT_EQ(signin::cookieDictionary(session).dump(),
            R"({"domain":".Example.com","name":"sid","path":"/","secure":true,"value":"v=1"})");
  Cookie lasting{"k", "", "example.com", "/a", false, 1767225600.25};
  const auto dict = signin::cookieDictionary(lasting);
  ASSERT_TRUE(dict["expires"].is_number_float());
  EXPECT_DOUBLE_EQ(dict["expires"].get<double>(), 1767225600.25);
}

TEST(SignInPopups, CentredOnTheSignInWindowAndNeverAboveTheWorkArea) {
  const signin::Rect window{100, 200, 1040, 780};
  const signin::Rect work{0, 32, 1920, 1048};
  EXPECT_EQ(signin::popupOrigin(window, work, 520, 680), std::make_pair(360, 250));
  // A window high on the screen: the popup is lowered to the top of the work area.
  EXPECT_EQ(signin::popupOrigin({100, 32, 1040, 300}, work, 400, 600), std::make_pair(420, 32));
  EXPECT_EQ(signin::popupOrigin(window, std::nullopt, 520, 680), std::make_pair(0, 0));
}

struct ControllerTest : ::testing::Test {
  FakeSignInWindows windows;
  std::vector<std::pair<std::optional<nlohmann::json>, std::string>> endings;

  std::shared_ptr<SignInController> make(
      std::optional<SignInController::AutoLogin> autoLogin = std::nullopt) {
    auto c = SignInController::create(windows, "https://login.example.com/start?x=1", "Sign in",
                                      {"Example.COM"}, "work", std::move(autoLogin));
    c->onFinish = [this](const std::optional<nlohmann::json>& r, const std::string& e) {
      endings.emplace_back(r, e);
    };
    return c;
  }
  FakeSignInWindow& window() { return *windows.windows.back(); }
};

TEST_F(ControllerTest, ConstructionChoosesTheKeysStoreAndTheMode) {
  auto c = make();
  EXPECT_EQ(window().options.storeId, signin::storeIdentifier("work"));
  EXPECT_TRUE(window().options.interactive);
  EXPECT_EQ(window().options.address, "login.example.com");
  EXPECT_EQ(c->domains(), std::vector<std::string>{"example.com"});
  EXPECT_EQ(window().shown, 0);  // construction never shows the window
  auto automatic = make(SignInController::AutoLogin{"u", "p", "login"});
  EXPECT_FALSE(window().options.interactive);
  EXPECT_FALSE(automatic->mayOpenPopup());
}

TEST_F(ControllerTest, CapturedLoginKeepsEachNonEmptyValue) {
  auto c = make();
  c->loginMessage(R"({"username":"ann","password":""})");
  c->loginMessage(R"({"username":"","password":"s3cret"})");
  c->loginMessage(R"({"username":5,"password":null})");
  c->loginMessage("[1,2]");
  c->loginMessage("not json");
  EXPECT_EQ(c->typed(),
            (std::map<std::string, std::string>{{"username", "ann"}, {"password", "s3cret"}}));
}

TEST_F(ControllerTest, ResultFiltersCookiesAndFollowsTheCheckbox) {
  auto c = make();
  window().currentUrl = "https://www.example.com/home";
  window().currentTitle = "Home";
  c->loginMessage(R"({"username":"ann","password":"pw"})");
  c->finishPressed();
  window().currentUrl = "https://changed.example.com/";  // read at the press, not later
  window().deliverCookies({{"a", "1", ".example.com", "/", true, {}},
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
}

TEST_F(ControllerTest, LoginIsHandedOverOnlyWithThePasswordAndTheTick) {
  auto onlyUser = make();
  onlyUser->loginMessage(R"({"username":"ann","password":""})");
  onlyUser->finishPressed();
  window().deliverCookies({});
  EXPECT_EQ(endings.back().first->dump(), R"({"cookies":[],"remember":true,"title":"","url":""})");

  auto unticked = make();
  unticked->loginMessage(R"({"username":"ann","password":"pw"})");
  window().remember = false;
  unticked->finishPressed();
  window().deliverCookies({});
  EXPECT_EQ(endings.back().first->value("remember", true), false);
  EXPECT_FALSE(endings.back().first->contains("login"));

  auto automatic = make(SignInController::AutoLogin{"u", "p", "login"});
  automatic->finishSignIn();
  window().deliverCookies({});
  EXPECT_EQ(endings.back().first->dump(), R"({"cookies":[],"title":"","url":""})");
}

TEST_F(ControllerTest, EndsExactlyOnce) {
  // Pressed twice: one read answers, the second finds the sign-in ended.
  auto c = make();
  c->finishPressed();
  c->finishPressed();
  window().deliverCookies({});
  window().deliverCookies({});
  EXPECT_EQ(endings.size(), 1u);

  // Closed while the cookies are being read: the close wins, the late cookies do nothing.
  endings.clear();
  auto closing = make();
  closing->finishPressed();
  window().close();
  window().deliverCookies({});
  ASSERT_EQ(endings.size(), 1u);
  EXPECT_FALSE(endings[0].first);
  EXPECT_EQ(endings[0].second, "the sign-in window was closed");
  closing->cancelPressed();
  EXPECT_EQ(endings.size(), 1u);
  EXPECT_FALSE(closing->mayOpenPopup());
}

TEST_F(ControllerTest, CallbackMayDropTheLastOwner) {
  auto c = make();
  std::weak_ptr<SignInController> weak = c;
  auto* raw = &window();
  c->onFinish = [&c](const std::optional<nlohmann::json>&, const std::string&) { c.reset(); };
  c->cancelPressed();
  EXPECT_TRUE(weak.expired());
  EXPECT_TRUE(raw->closed);
  // A window that reports after its controller is gone reaches nobody.
  EXPECT_FALSE(raw->events());
}

TEST_F(ControllerTest, AddressLabelFollowsCommittedPages) {
  auto c = make();
  c->committed("https://accounts.other.org/step2");
  EXPECT_EQ(window().address, "accounts.other.org");
  c->committed("about:blank");
  EXPECT_EQ(window().address, "");
  EXPECT_EQ(signin::addressLabel("data:text/html,hi"), "data:text/html,hi");
}

}  // namespace
}  // namespace brivok
