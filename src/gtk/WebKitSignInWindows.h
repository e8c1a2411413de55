#pragma once

#include <webkit2/webkit2.h>

#include <map>
#include <memory>
#include <string>

#include "gtk/WebKitPage.h"
#include "platform/SignInWindow.h"

namespace brivok {

// Sign-in windows and never-shown pages on WebKitGTK. Each sign-in key's store is one web
// context with a data manager under <data>/stores/<id> (cache under <cache>/stores/<id>),
// made on first use and kept for the life of the process, so every window and page of a key
// shares its cookies. The empty identifier gives each page a throw-away store of its own.
//
// Never-shown pages that end leave their view, its web process ended, for the next page of
// the same store and shape (a throw-away store is emptied first): the engine keeps a little
// of every view it ever made, so making one per job would grow the shell without end.
class WebKitSignInWindows : public SignInWindows {
 public:
  WebKitSignInWindows(std::string dataDir, std::string cacheDir);
  ~WebKitSignInWindows() override;

  std::shared_ptr<SignInWindow> open(const SignInWindow::Options& options) override;
  std::shared_ptr<WebPage> openOffscreen(const OffscreenPageOptions& options) override;
  void forgetStore(const std::string& storeId) override;

  std::shared_ptr<WebKitStore> store(const std::string& storeId);
  // Views waiting for their next page.
  std::size_t idleOffscreenPages() const;

  struct OffscreenPool;

 private:
  std::shared_ptr<OffscreenPool> pool_;
  std::string dataDir_;
  std::string cacheDir_;
  std::map<std::string, std::shared_ptr<WebKitStore>> stores_;
};

}  // namespace brivok
