#pragma once

#include <webkit2/webkit2.h>

#include <map>
#include <memory>
#include <string>

#include "platform/SignInWindow.h"

namespace brivok {

// Sign-in windows on WebKitGTK. Each sign-in key's store is one web context with a data
// manager under <data>/stores/<id> (cache under <cache>/stores/<id>), made on first use and
// kept for the life of the process, so every window of a key shares its cookies.
class WebKitSignInWindows : public SignInWindows {
 public:
  WebKitSignInWindows(std::string dataDir, std::string cacheDir);
  ~WebKitSignInWindows() override;

  std::shared_ptr<SignInWindow> open(const SignInWindow::Options& options) override;
  void forgetStore(const std::string& storeId) override;

  // The persistent context of a store (made on first use), or a fresh ephemeral one for
  // the empty identifier. The caller owns the returned reference.
  WebKitWebContext* context(const std::string& storeId);

 private:
  std::string dataDir_;
  std::string cacheDir_;
  std::map<std::string, WebKitWebContext*> contexts_;  // (owned)
};

}  // namespace brivok
