#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brivok {

// One cookie as a website store holds it.
struct Cookie {
  std::string name;
  std::string value;
  std::string domain;  // as stored: a leading dot and letter case kept
  std::string path;
  bool secure = false;
  std::optional<double> expires;  // seconds since 1970, absent for a session cookie
};

// A sign-in window: a bar (address, "Remember my login", "Cancel", "I'm signed in") over a
// web view that works on one website store. The toolkit side owns the popups the page opens.
class SignInWindow {
 public:
  // What the window reports to the one who drives it. Held weakly by the window.
  class Events {
   public:
    virtual ~Events() = default;
    virtual void loginMessage(const std::string& json) = 0;  // a body on "brivokLogin"
    virtual void finishPressed() = 0;
    virtual void cancelPressed() = 0;
    virtual void windowClosed() = 0;  // the sign-in window itself, however it closed
    virtual void committed(const std::string& url) = 0;
    // Whether a page's request for a new window may open a popup now; when not, the
    // request loads in place.
    virtual bool mayOpenPopup() const = 0;
  };

  struct Options {
    std::string url;
    std::string title;
    std::string storeId;      // empty: a throw-away store of the window's own
    bool interactive = true;  // capture script and "brivokLogin" channel; dialogs shown
    std::string address;      // the first text of the address label
    std::weak_ptr<Events> events;
  };

  virtual ~SignInWindow() = default;
  virtual void show() = 0;   // to the front, focused
  virtual void close() = 0;  // reports windowClosed() while closing, once
  virtual std::string url() const = 0;
  virtual std::string title() const = 0;
  virtual bool rememberLogin() const = 0;
  virtual void setAddress(const std::string& text) = 0;
  virtual void readCookies(std::function<void(std::vector<Cookie>)> done) = 0;
  virtual void removeLoginChannel() = 0;
  // Closes every popup without reporting anything.
  virtual void closePopups() = 0;
};

// Makes sign-in windows and keeps the website stores they work on.
class SignInWindows {
 public:
  virtual ~SignInWindows() = default;
  virtual std::shared_ptr<SignInWindow> open(const SignInWindow::Options& options) = 0;
  // Erases everything the store holds, also under open windows.
  virtual void forgetStore(const std::string& storeId) = 0;
};

}  // namespace brivok
