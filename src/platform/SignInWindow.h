#pragma once

#include <memory>
#include <string>

#include "platform/WebPage.h"

namespace brivok {

// A sign-in window: a bar (address, "Remember my login", "Cancel", "I'm signed in") over a
// web page that works on one website store. The toolkit side owns the popups the page opens.
class SignInWindow {
 public:
  // What the window reports to the one who drives it. Held weakly by the window.
  class Events {
   public:
    virtual ~Events() = default;
    virtual void loginMessage(const std::string& json) = 0;  // a body on "brivokLogin"
    virtual void finishPressed() = 0;
    virtual void cancelPressed() = 0;
    virtual void windowClosed() = 0;   // the sign-in window itself, however it closed
    virtual void reloadPressed() = 0;  // "Load Again", offered once the page stopped
    // Whether a page's request for a new window may open a popup now; when not, the
    // request loads in place.
    virtual bool mayOpenPopup() const = 0;
  };

  struct Options {
    std::string title;
    std::string key;            // the sign-in key; empty: a throw-away store of its own
    std::string captureScript;  // run in main frames at document end; posts on "brivokLogin"
    std::string address;        // the first text of the address label
    bool secure = false;        // whether the padlock shows beside it (an https page)
    std::weak_ptr<Events> events;
  };

  virtual ~SignInWindow() = default;
  virtual void show() = 0;   // to the front, focused
  virtual void close() = 0;  // reports windowClosed() while closing, once
  virtual std::shared_ptr<WebPage> page() = 0;
  virtual bool rememberLogin() const = 0;
  // The address label's text, and the padlock for an https page only.
  virtual void setAddress(const std::string& text, bool secure) = 0;
  virtual void removeLoginChannel() = 0;
  // Closes every popup without reporting anything.
  virtual void closePopups() = 0;
  // Says in the window that its page stopped, offers to load it again, and holds back
  // "I'm signed in" meanwhile; or, with false, takes that back.
  virtual void showStopped(bool stopped) = 0;
};

// Makes sign-in windows on the website stores of sign-in keys.
class SignInWindows {
 public:
  virtual ~SignInWindows() = default;
  virtual std::shared_ptr<SignInWindow> open(const SignInWindow::Options& options) = 0;
  // Erases everything the key's store holds, also under open windows and pages.
  virtual void forget(const std::string& key) = 0;
};

}  // namespace brivok
