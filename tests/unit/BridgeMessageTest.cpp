#include "bridge/BridgeMessage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace brivok {
namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class MockHandler : public BridgeHandler {
 public:
  MOCK_METHOD(void, showTarvel, (bool, const std::vector<double>&, bool), (override));
  MOCK_METHOD(void, openSignIn, (const nlohmann::json&), (override));
  MOCK_METHOD(void, pickPaths, (), (override));
  MOCK_METHOD(void, forgetSignIn, (const std::string&), (override));
  MOCK_METHOD(void, setPref, (const std::string&, const std::string&), (override));
  MOCK_METHOD(void, openExternal, (const std::string&), (override));
};

// A handler that must not be called at all.
using Silent = ::testing::StrictMock<MockHandler>;

TEST(BridgeDispatch, BodiesThatAreNotObjectsOrLackAnActionDoNothing) {
  Silent h;
  for (const char* body :
       {"\"setPref\"", "42", "[1,2]", "null", "{}", "{\"action\":7}", "{\"action\":null}",
        "{\"key\":\"a\",\"value\":\"b\"}", "not json", "{\"action\":\"setPref\"", "",
        "{\"action\":\"Tarvel\"}", "{\"action\":\"setpref\",\"key\":\"a\",\"value\":\"b\"}",
        "{\"action\":\"launchMissiles\"}"}) {
    dispatchBridgeMessage(body, h);
  }
}

TEST(BridgeDispatch, TarvelTakesDefaultsAndOnlyNumberArrays) {
  MockHandler h;
  EXPECT_CALL(h, showTarvel(false, IsEmpty(), false));
  dispatchBridgeMessage(R"({"action":"tarvel"})", h);
  EXPECT_CALL(h, showTarvel(true, IsEmpty(), false));
  dispatchBridgeMessage(R"({"action":"tarvel","visible":true,"rect":[1,2,"3",4]})", h);
  EXPECT_CALL(h, showTarvel(false, ElementsAre(1.5, 2, 300, 40), true));
  dispatchBridgeMessage(
      R"({"action":"tarvel","visible":"yes","rect":[1.5,2,300,40],"reload":true})", h);
  EXPECT_CALL(h, showTarvel(false, IsEmpty(), false));
  dispatchBridgeMessage(R"({"action":"tarvel","visible":1,"rect":{"x":1},"reload":"true"})", h);
}

TEST(BridgeDispatch, SignInHandsOnTheWholeBody) {
  MockHandler h;
  EXPECT_CALL(h, openSignIn(nlohmann::json::parse(R"({"action":"signin","id":"a","extra":[1]})")));
  dispatchBridgeMessage(R"({"action":"signin","id":"a","extra":[1]})", h);
  EXPECT_CALL(h, pickPaths());
  dispatchBridgeMessage(R"({"action":"pickPaths","ignored":true})", h);
}

TEST(BridgeDispatch, RequiredStringsMustBeStrings) {
  MockHandler h;
  EXPECT_CALL(h, forgetSignIn(_)).Times(0);
  EXPECT_CALL(h, setPref(_, _)).Times(0);
  dispatchBridgeMessage(R"({"action":"forgetSignIn"})", h);
  dispatchBridgeMessage(R"({"action":"forgetSignIn","key":5})", h);
  dispatchBridgeMessage(R"({"action":"setPref","key":"a","value":5})", h);
  dispatchBridgeMessage(R"({"action":"setPref","key":"a","value":true})", h);
  dispatchBridgeMessage(R"({"action":"setPref","key":["a"],"value":"b"})", h);
  dispatchBridgeMessage(R"({"action":"setPref","value":"b"})", h);
  ::testing::Mock::VerifyAndClearExpectations(&h);

  EXPECT_CALL(h, forgetSignIn(""));
  dispatchBridgeMessage(R"({"action":"forgetSignIn","key":""})", h);
  EXPECT_CALL(h, setPref("a", "5"));
  dispatchBridgeMessage(R"({"action":"setPref","key":"a","value":"5"})", h);
}

TEST(BridgeDispatch, OpenExternalOnlyForExactlyHttps) {
  MockHandler h;
  EXPECT_CALL(h, openExternal("https://example.com/a?b=c"));
  dispatchBridgeMessage(R"({"action":"openExternal","url":"https://example.com/a?b=c"})", h);
  ::testing::Mock::VerifyAndClearExpectations(&h);
  EXPECT_CALL(h, openExternal(_)).Times(0);
  for (const char* url : {"http://example.com/", "file:///etc/passwd", "mailto:a@example.com",
                          "HTTPS://example.com/", "Https://example.com/", "https://exa mple.com/",
                          "javascript:alert(1)", "//example.com/", ""}) {
    dispatchBridgeMessage(nlohmann::json{{"action", "openExternal"}, {"url", url}}.dump(), h);
  }
  dispatchBridgeMessage(R"({"action":"openExternal","url":["https://example.com/"]})", h);
}

}  // namespace
}  // namespace brivok
