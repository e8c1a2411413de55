#pragma once

#include <memory>
#include <string>

#include "gtk/WebKitStores.h"
#include "platform/SignInWindow.h"

namespace brivok {

// Sign-in windows on WebKitGTK, each on its key's website store: a bar over the page, the
// popups the page opens, and its alerts.
class WebKitSignInWindows : public SignInWindows {
 public:
  explicit WebKitSignInWindows(std::shared_ptr<WebKitStores> stores) : stores_(std::move(stores)) {}

  std::shared_ptr<SignInWindow> open(const SignInWindow::Options& options) override;
  void forget(const std::string& key) override;

 private:
  std::shared_ptr<WebKitStores> stores_;
};

}  // namespace brivok
