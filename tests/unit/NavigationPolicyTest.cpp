#include <gtest/gtest.h>

#include "bridge/NavigationPolicy.h"

namespace brivok {
namespace {

TEST(NavigationPolicy, TableOfAddresses) {
  struct Case {
    const char* url;
    bool newWindow;
    const char* domain;
    Navigation navigation;
    Navigation response;
  };
  using N = Navigation;
  const Case cases[] = {
      {"", false, "", N::Cancel, N::Cancel},
      {"about:blank", false, "", N::Allow, N::Allow},
      {"ABOUT:srcdoc", false, "", N::Allow, N::Allow},
      {"http://127.0.0.1:8123/x", false, "", N::Allow, N::Allow},
      {"https://localhost/", true, "", N::Allow, N::Allow},
      {"http://LOCALHOST/", false, "", N::AtResponse, N::OpenOutside},  // hosts compare exactly
      {"https://other.example/", false, "", N::AtResponse, N::OpenOutside},
      {"https://other.example/", true, "", N::OpenOutside, N::OpenOutside},
      {"mailto:a@b.example", false, "", N::OpenOutside, N::OpenOutside},
      {"file:///etc/passwd", true, "", N::Cancel, N::Cancel},
      {"file:///etc/passwd", false, "", N::AtResponse, N::Cancel},
      {"smb://share/x.desktop", true, "", N::Cancel, N::Cancel},
      // The secondary site's own view keeps its domain and subdomains inside.
      {"https://app.tarvel.example/", false, "tarvel.example", N::Allow, N::Allow},
      {"https://tarvel.example/", true, "tarvel.example", N::Allow, N::Allow},
      {"https://eviltarvel.example/", false, "tarvel.example", N::AtResponse, N::OpenOutside},
      {"https://tarvel.example.evil.net/", false, "tarvel.example", N::AtResponse, N::OpenOutside},
  };
  for (const auto& c : cases) {
    const NavigationRequest request{c.url, c.newWindow, c.domain};
    EXPECT_EQ(decideNavigation(request), c.navigation) << c.url;
    EXPECT_EQ(decideMainFrameResponse(request), c.response) << c.url;
  }
}

}  // namespace
}  // namespace brivok
