#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/OffscreenPages.h"
#include "platform/SignInWindow.h"

namespace brivok::testing {

// A website store that holds its cookie reads and writes until the test completes them.
class FakeStore : public WebsiteStore {
 public:
  void readCookies(std::function<void(std::vector<Cookie>)> done) override {
    pendingReads.push_back(std::move(done));
  }
  void addCookie(const Cookie& cookie, std::function<void()> done) override {
    added.push_back(cookie);
    pendingAdds.push_back(std::move(done));
  }
  void clear() override { ++cleared; }

  // Delivers `cookies` to every pending read.
  void deliverCookies(const std::vector<Cookie>& cookies) {
    auto pending = std::move(pendingReads);
    pendingReads.clear();
    for (auto& done : pending) done(cookies);
  }
  void completeAdds() {
    auto pending = std::move(pendingAdds);
    pendingAdds.clear();
    for (auto& done : pending) done();
  }

  std::vector<Cookie> added;
  std::vector<std::function<void(std::vector<Cookie>)>> pendingReads;
  std::vector<std::function<void()>> pendingAdds;
  int cleared = 0;
};

// A page whose loads, script answers and events the test plays.
class FakePage : public WebPage {
 public:
  struct Evaluation {
    std::string script;
    ScriptDone done;
  };
  void setEvents(std::weak_ptr<Events> e) override { events = std::move(e); }
  void load(const std::string& url) override {
    loads.push_back(url);
    currentUrl = url;
    loading = true;
  }
  void evaluate(const std::string& script, ScriptDone done) override {
    evaluations.push_back({script, std::move(done)});
  }
  std::string url() const override { return currentUrl; }
  std::string title() const override { return currentTitle; }
  bool isLoading() const override { return loadingNow ? loadingNow() : loading; }
  WebsiteStore& store() override { return *cookies; }
  void close() override { closed = true; }

  // Answers every pending evaluation whose script contains `part` (all when empty).
  int answer(const std::optional<nlohmann::json>& value, const std::string& part = "") {
    int answered = 0;
    std::vector<Evaluation> rest;
    auto pending = std::move(evaluations);
    evaluations.clear();
    for (auto& e : pending) {
      if (part.empty() || e.script.find(part) != std::string::npos) {
        ++answered;
        if (e.done) e.done(value);
      } else {
        rest.push_back(std::move(e));
      }
    }
    for (auto& e : rest) evaluations.push_back(std::move(e));
    return answered;
  }
  void finish() {
    loading = false;
    if (auto e = events.lock()) e->loadFinished();
  }
  void fail(bool cancelled) {
    loading = false;
    if (auto e = events.lock()) e->loadFailed(cancelled);
  }
  // Its web process goes away.
  void stop() {
    if (auto e = events.lock()) e->pageStopped();
  }

  std::weak_ptr<Events> events;
  std::vector<std::string> loads;
  std::vector<Evaluation> evaluations;
  std::string currentUrl, currentTitle;
  bool loading = false;
  std::function<bool()> loadingNow;  // when set, decides isLoading() at the moment it is asked
  bool closed = false;
  std::shared_ptr<FakeStore> cookies = std::make_shared<FakeStore>();
};

// A sign-in window that records what it is asked and lets a test play the user.
class FakeSignInWindow : public SignInWindow {
 public:
  explicit FakeSignInWindow(Options o) : options(std::move(o)) {}
  void show() override { ++shown; }
  void close() override {
    if (closed) return;
    closed = true;
    if (auto events = options.events.lock()) events->windowClosed();
  }
  std::shared_ptr<WebPage> page() override { return fakePage; }
  bool rememberLogin() const override { return remember; }
  void setAddress(const std::string& text, bool isSecure) override {
    address = text;
    secure = isSecure;
  }
  void removeLoginChannel() override { channelRemoved = true; }
  void closePopups() override { ++popupsClosed; }
  void showStopped(bool stopped) override { showsStopped = stopped; }

  std::shared_ptr<Events> events() const { return options.events.lock(); }

  Options options;
  std::shared_ptr<FakePage> fakePage = std::make_shared<FakePage>();
  int shown = 0;
  bool closed = false;
  bool remember = true;
  bool channelRemoved = false;
  int popupsClosed = 0;
  bool showsStopped = false;
  std::string address;
  bool secure = false;
};

class FakeSignInWindows : public SignInWindows {
 public:
  std::shared_ptr<SignInWindow> open(const SignInWindow::Options& options) override {
    auto window = std::make_shared<FakeSignInWindow>(options);
    windows.push_back(window);
    return window;
  }
  void forget(const std::string& key) override { forgotten.push_back(key); }

  std::vector<std::shared_ptr<FakeSignInWindow>> windows;
  std::vector<std::string> forgotten;
};

class FakeOffscreenPages : public OffscreenPages {
 public:
  std::shared_ptr<WebPage> open(const OffscreenPageOptions& options) override {
    auto page = std::make_shared<FakePage>();
    offscreen.push_back({options, page});
    return page;
  }
  std::vector<std::pair<OffscreenPageOptions, std::shared_ptr<FakePage>>> offscreen;
};

}  // namespace brivok::testing
