#include "bridge/BridgeMessage.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace brivok {
namespace {

using Parsed = std::optional<BridgeMessage>;
const Parsed dropped;

TEST(BridgeMessage, TypeRulesOfEveryAction) {
  const struct {
    std::string body;
    Parsed expected;
  } cases[] = {
      // Bodies that are not objects, or carry no string action, or an unknown one.
      {"\"setPref\"", dropped},
      {"42", dropped},
      {"[1,2]", dropped},
      {"{}", dropped},
      {"not json", dropped},
      {"", dropped},
      {R"({"action":7})", dropped},
      {R"({"action":"Tarvel"})", dropped},
      {R"({"action":"setpref","key":"a","value":"b"})", dropped},
      {R"({"action":"launchMissiles"})", dropped},
      // "tarvel": booleans only as booleans, the rectangle only as an array of numbers.
      {R"({"action":"tarvel"})", TarvelRequest{}},
      {R"({"action":"tarvel","visible":true,"rect":[1,2,"3",4]})", TarvelRequest{true, {}, false}},
      {R"({"action":"tarvel","visible":"yes","rect":[1.5,2,300,40],"reload":true})",
       TarvelRequest{false, {1.5, 2, 300, 40}, true}},
      {R"({"action":"tarvel","visible":1,"rect":{"x":1},"reload":"true"})", TarvelRequest{}},
      // "signin": id and url required; the rest take defaults when missing or mistyped.
      {R"({"action":"signin","id":"a","url":"https://s.example/","extra":[1]})",
       SignInRequest{"a", "https://s.example/", "Sign in", {}, ""}},
      {R"({"action":"signin","id":"a","url":"u","title":"T","domains":["A.example","b"],"key":"k"})",
       SignInRequest{"a", "u", "T", {"A.example", "b"}, "k"}},
      {R"({"action":"signin","id":"a","url":"u","title":5,"domains":["a",3],"key":[]})",
       SignInRequest{"a", "u", "Sign in", {}, ""}},
      {R"({"action":"signin","url":"https://s.example/"})", dropped},
      {R"({"action":"signin","id":7,"url":"https://s.example/"})", dropped},
      {R"({"action":"signin","id":"a"})", dropped},
      {R"({"action":"pickPaths","ignored":true})", PickPathsRequest{}},
      // Required strings must be strings.
      {R"({"action":"forgetSignIn"})", dropped},
      {R"({"action":"forgetSignIn","key":5})", dropped},
      {R"({"action":"forgetSignIn","key":""})", ForgetSignInRequest{""}},
      {R"({"action":"setPref","key":"a","value":5})", dropped},
      {R"({"action":"setPref","key":"a","value":true})", dropped},
      {R"({"action":"setPref","key":["a"],"value":"b"})", dropped},
      {R"({"action":"setPref","value":"b"})", dropped},
      {R"({"action":"setPref","key":"a","value":"5"})", SetPrefRequest{"a", "5"}},
      // "openExternal": exactly https, with a host.
      {R"({"action":"openExternal","url":"https://example.com/a?b=c"})",
       OpenExternalRequest{"https://example.com/a?b=c"}},
      {R"({"action":"openExternal","url":["https://example.com/"]})", dropped},
  };
  for (const auto& c : cases) EXPECT_EQ(parseBridgeMessage(c.body), c.expected) << c.body;

  for (const char* url :
       {"http://example.com/", "file:///etc/passwd", "mailto:a@example.com", "HTTPS://example.com/",
        "Https://example.com/", "https://exa mple.com/", "javascript:alert(1)", "//example.com/",
        "", "https:", "https:///etc/passwd", "https:relative", "https://user@/x"}) {
    EXPECT_EQ(parseBridgeMessage(nlohmann::json{{"action", "openExternal"}, {"url", url}}.dump()),
              dropped)
        << url;
  }
}

TEST(BridgeMessage, HostileSizesAreDroppedWithoutHarm) {
  // Nesting that would overflow the stack when the value is copied or written.
  for (std::size_t depth : {65u, 100000u}) {
    const std::string deep = R"({"action":"signin","id":"a","url":"u","title":)" +
                             std::string(depth, '[') + std::string(depth, ']') + "}";
    EXPECT_EQ(parseBridgeMessage(deep), dropped) << depth;
  }
  // Brackets inside strings are text, not nesting.
  EXPECT_EQ(parseBridgeMessage(R"({"action":"setPref","key":"k","value":")" +
                               std::string(5000, '[') + "\"}"),
            Parsed(SetPrefRequest{"k", std::string(5000, '[')}));
  std::string big = R"({"action":"setPref","key":"k","value":")";
  big += std::string(kMaxPageMessageBytes, 'x') + "\"}";
  EXPECT_EQ(parseBridgeMessage(big), dropped);
}

}  // namespace
}  // namespace brivok
