#include "app/AppDelegate.h"

#include "app/StatusPage.h"
#include "app/WebPrefs.h"

namespace brivok {

std::shared_ptr<AppDelegate> AppDelegate::create(Parts parts) {
  return std::shared_ptr<AppDelegate>(new AppDelegate(std::move(parts)));
}

void AppDelegate::didFinishLaunching() {
  installPageScripts();
  parts_.window->present();
  showStatus(kStartingTitle, kStartingDetail);
  if (!parts_.backend) return;
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  parts_.backend->onReady = [weak](const std::string& url) {
    if (auto self = weak.lock()) self->backendReady(url);
  };
  parts_.backend->onExit = [weak](const std::string& message) {
    if (auto self = weak.lock()) self->backendExited(message);
  };
  parts_.backend->start();
}

void AppDelegate::willTerminate() {
  if (loadLimit_) parts_.loop->cancel(std::exchange(loadLimit_, 0));
  if (parts_.backend) parts_.backend->stop();
}

void AppDelegate::backendReady(const std::string& url) {
  parts_.webView->loadUrl(url);
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  if (loadLimit_) parts_.loop->cancel(loadLimit_);
  loadLimit_ = parts_.loop->postDelayed(kPageLoadLimit, [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->loadLimit_ = 0;
    if (self->parts_.webView->isLoading()) self->parts_.webView->stopLoading();
  });
}

void AppDelegate::backendExited(const std::string& message) {
  // The status page replaces whatever is loading; the page-load limit no longer applies.
  if (loadLimit_) parts_.loop->cancel(std::exchange(loadLimit_, 0));
  showStatus(kStoppedTitle, message);
}

void AppDelegate::showStatus(const std::string& title, const std::string& detail) {
  parts_.webView->loadHtml(statusPageHtml(title, detail));
}

void AppDelegate::installPageScripts() {
  parts_.webView->setPageScript(webprefs::pageScript(webprefs::read(*parts_.settings)));
}

void AppDelegate::receiveScriptMessage(const std::string& json) {
  dispatchBridgeMessage(json, *this);
}

void AppDelegate::setPref(const std::string& key, const std::string& value) {
  if (webprefs::set(*parts_.settings, key, value) == webprefs::Change::Stored) {
    installPageScripts();
  }
}

void AppDelegate::openExternal(const std::string& url) {
  parts_.urlOpener->open(url);
}

// The page-bridge abilities below arrive with the sign-in windows, the path picker and the
// secondary site view; until then their messages are accepted and do nothing.
void AppDelegate::showTarvel(bool, const std::vector<double>&, bool) {}
void AppDelegate::openSignIn(const nlohmann::json&) {}
void AppDelegate::pickPaths() {}
void AppDelegate::forgetSignIn(const std::string&) {}

}  // namespace brivok
