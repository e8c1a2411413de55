#include "bridge/BridgeMessage.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace brivok {
namespace {

// What a message asks for, as one line of text; empty when it is dropped.
std::string describe(std::string_view json) {
  const auto message = parseBridgeMessage(json);
  if (!message) return "";
  const auto join = [](const auto& items) {
    std::string out;
    for (const auto& item : items) {
      if (!out.empty()) out += ",";
      out += nlohmann::json(item).dump();
    }
    return "[" + out + "]";
  };
  return std::visit(
      [&](const auto& m) -> std::string {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, TarvelRequest>) {
          return "tarvel " + std::to_string(m.visible) + " " + join(m.rect) + " " +
                 std::to_string(m.reload);
        } else if constexpr (std::is_same_v<T, SignInRequest>) {
          return "signin " + m.id + " " + m.url + " " + m.title + " " + join(m.domains) + " " +
                 m.key;
        } else if constexpr (std::is_same_v<T, PickPathsRequest>) {
          return "pickPaths";
        } else if constexpr (std::is_same_v<T, ForgetSignInRequest>) {
          return "forget " + m.key;
        } else if constexpr (std::is_same_v<T, SetPrefRequest>) {
          return "setPref " + m.key + "=" + m.value;
        } else {
          return "open " + m.url;
        }
      },
      *message);
}

TEST(BridgeMessage, TypeRulesOfEveryAction) {
  const struct {
    std::string body;
    std::string expected;
  } cases[] = {
      // Bodies that are not objects, or carry no string action, or an unknown one.
      {"\"setPref\"", ""},
      {"42", ""},
      {"[1,2]", ""},
      {"{}", ""},
      {"not json", ""},
      {"", ""},
      {R"({"action":7})", ""},
      {R"({"action":"Tarvel"})", ""},
      {R"({"action":"setpref","key":"a","value":"b"})", ""},
      {R"({"action":"launchMissiles"})", ""},
      // "tarvel": booleans only as booleans, the rectangle only as an array of numbers.
      {R"({"action":"tarvel"})", "tarvel 0 [] 0"},
      {R"({"action":"tarvel","visible":true,"rect":[1,2,"3",4]})", "tarvel 1 [] 0"},
      {R"({"action":"tarvel","visible":"yes","rect":[1.5,2,300,40],"reload":true})",
       "tarvel 0 [1.5,2.0,300.0,40.0] 1"},
      {R"({"action":"tarvel","visible":1,"rect":{"x":1},"reload":"true"})", "tarvel 0 [] 0"},
      // "signin": id and url required; the rest take defaults when missing or mistyped.
      {R"({"action":"signin","id":"a","url":"https://s.example/","extra":[1]})",
       "signin a https://s.example/ Sign in [] "},
      {R"({"action":"signin","id":"a","url":"u","title":"T","domains":["A.example","b"],"key":"k"})",
       "signin a u T [\"A.example\",\"b\"] k"},
      {R"({"action":"signin","id":"a","url":"u","title":5,"domains":["a",3],"key":[]})",
       "signin a u Sign in [] "},
      {R"({"action":"signin","url":"https://s.example/"})", ""},
      {R"({"action":"signin","id":7,"url":"https://s.example/"})", ""},
      {R"({"action":"signin","id":"a"})", ""},
      {R"({"action":"pickPaths","ignored":true})", "pickPaths"},
      // Required strings must be strings.
      {R"({"action":"forgetSignIn"})", ""},
      {R"({"action":"forgetSignIn","key":5})", ""},
      {R"({"action":"forgetSignIn","key":""})", "forget "},
      {R"({"action":"setPref","key":"a","value":5})", ""},
      {R"({"action":"setPref","key":"a","value":true})", ""},
      {R"({"action":"setPref","key":["a"],"value":"b"})", ""},
      {R"({"action":"setPref","value":"b"})", ""},
      {R"({"action":"setPref","key":"a","value":"5"})", "setPref a=5"},
      // "openExternal": exactly https, with a host.
      {R"({"action":"openExternal","url":"https://example.com/a?b=c"})",
       "open https://example.com/a?b=c"},
      {R"({"action":"openExternal","url":["https://example.com/"]})", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(describe(c.body), c.expected) << c.body;

  for (const char* url :
       {"http://example.com/", "file:///etc/passwd", "mailto:a@example.com", "HTTPS://example.com/",
        "Https://example.com/", "https://exa mple.com/", "javascript:alert(1)", "//example.com/",
        "", "https:", "https:///etc/passwd", "https:relative", "https://user@/x"}) {
    EXPECT_EQ(describe(nlohmann::json{{"action", "openExternal"}, {"url", url}}.dump()), "") << url;
  }
}

TEST(BridgeMessage, HostileSizesAreDroppedWithoutHarm) {
  // Nesting that would overflow the stack when the value is copied or written.
  for (std::size_t depth : {65u, 100000u}) {
    const std::string deep = R"({"action":"signin","id":"a","url":"u","title":)" +
                             std::string(depth, '[') + std::string(depth, ']') + "}";
    EXPECT_EQ(describe(deep), "") << depth;
  }
  // Brackets inside strings are text, not nesting.
  EXPECT_EQ(describe(R"({"action":"setPref","key":"k","value":")" + std::string(5000, '[') + "\"}"),
            "setPref k=" + std::string(5000, '['));
  std::string big = R"({"action":"setPref","key":"k","value":")";
  big += std::string(kMaxPageMessageBytes, 'x') + "\"}";
  EXPECT_EQ(describe(big), "");
}

}  // namespace
}  // namespace brivok
