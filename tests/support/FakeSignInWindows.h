#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/SignInWindow.h"

namespace brivok::testing {

// A sign-in window that records what it is asked and lets a test play the page and the user.
class FakeSignInWindow : public SignInWindow {
 public:
  explicit FakeSignInWindow(Options o) : options(std::move(o)) {}
  void show() override { ++shown; }
  void close() override {
    if (closed) return;
    closed = true;
    if (auto events = options.events.lock()) events->windowClosed();
  }
  std::string url() const override { return currentUrl; }
  std::string title() const override { return currentTitle; }
  bool rememberLogin() const override { return remember; }
  void setAddress(const std::string& text) override { address = text; }
  void readCookies(std::function<void(std::vector<Cookie>)> done) override {
    pendingCookies.push_back(std::move(done));
  }
  void removeLoginChannel() override { channelRemoved = true; }
  void closePopups() override { ++popupsClosed; }

  // Delivers the store's cookies to every pending read.
  void deliverCookies(const std::vector<Cookie>& cookies) {
    auto pending = std::move(pendingCookies);
    pendingCookies.clear();
    for (auto& done : pending) done(cookies);
  }
  std::shared_ptr<Events> events() const { return options.events.lock(); }

  Options options;
  int shown = 0;
  bool closed = false;
  bool remember = true;
  bool channelRemoved = false;
  int popupsClosed = 0;
  std::string address;
  std::string currentUrl, currentTitle;
  std::vector<std::function<void(std::vector<Cookie>)>> pendingCookies;
};

class FakeSignInWindows : public SignInWindows {
 public:
  std::shared_ptr<SignInWindow> open(const SignInWindow::Options& options) override {
    auto window = std::make_shared<FakeSignInWindow>(options);
    windows.push_back(window);
    return window;
  }
  void forgetStore(const std::string& storeId) override { forgotten.push_back(storeId); }

  std::vector<std::shared_ptr<FakeSignInWindow>> windows;
  std::vector<std::string> forgotten;
};

}  // namespace brivok::testing
