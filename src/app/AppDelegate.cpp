#include "app/AppDelegate.h"

#include <algorithm>

#include "app/CliInstaller.h"
#include "app/StatusPage.h"
#include "app/WebPrefs.h"
#include "bridge/NavigationPolicy.h"
#include "core/Files.h"
#include "core/Url.h"
#include "core/Utf8.h"
#include "signin/SignInData.h"

namespace brivok {

std::shared_ptr<AppDelegate> AppDelegate::create(Parts parts) {
  return std::shared_ptr<AppDelegate>(new AppDelegate(std::move(parts)));
}

void AppDelegate::reload() {
  // Back to the backend's start page whatever the view shows, status page included; before
  // the backend has an address, the page on screen is simply loaded again. Once the backend
  // has stopped its address leads nowhere: the page that says why stays.
  if (backendGone_) {
    parts_.webView->loadHtml(statusHtml_);
  } else if (!startUrl_.empty()) {
    statusHtml_.clear();
    parts_.webView->loadUrl(startUrl_);
  } else {
    parts_.webView->reload();
  }
}

void AppDelegate::openHome() {
  const std::string folder = parts_.home + "/.brivok";
  // A file in the way, or no right to make it: the file manager is asked all the same.
  makeUserDirectories(folder, parts_.userUmask);
  openOrSay(
      fileUrl(folder), "Could not open the Brivok folder.",
      "No application on this computer is set up to open folders. The folder is " + folder + ".");
}

void AppDelegate::openLog() {
  if (!parts_.backend) return;
  const std::string log = parts_.backend->logPath();
  openOrSay(
      fileUrl(log), "Could not show the backend log.",
      "No application on this computer is set up to open text files. The log is " + log + ".");
}

void AppDelegate::openOrSay(const std::string& url, const std::string& message,
                            const std::string& detail) {
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  parts_.urlOpener->open(url, [weak, message, detail](bool opened) {
    auto self = weak.lock();
    if (self && !opened) self->parts_.window->alert(message, detail);
  });
}

void AppDelegate::installCLI() {
  const auto outcome = cli::install(parts_.home, parts_.resources, parts_.userUmask);
  parts_.window->alert(outcome.message, outcome.detail);
}

void AppDelegate::pollNativeJobs() {
  if (parts_.jobs) parts_.jobs->poll();
}

void AppDelegate::didFinishLaunching() {
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  parts_.webView->setOnStopped([weak] {
    if (auto self = weak.lock()) self->mainPageStopped();
  });
  installPageScripts();
  showStatus(kStartingTitle, kStartingDetail);
  if (parts_.backend) {
    parts_.backend->onReady = [weak](const std::string& url) {
      if (auto self = weak.lock()) self->backendReady(url);
    };
    parts_.backend->onExit = [weak](const std::string& message) {
      if (auto self = weak.lock()) self->backendExited(message);
    };
    // The application may have started the backend already, ahead of the toolkit; then this
    // does nothing, and a start that failed there is tried again here and reported. Either
    // way its readiness and its end are handled only once this returns to the loop.
    parts_.backend->start();
  }
  parts_.window->present();
}

void AppDelegate::willTerminate() {
  if (parts_.backend) parts_.backend->stop();
}

void AppDelegate::backendReady(const std::string& url) {
  startUrl_ = url;  // kept when the backend stops: reload can still go back to it
  backendGone_ = false;
  homeOrigins_ = homeOrigins(url);
  parts_.webView->setHomeOrigins(homeOrigins_);
  statusHtml_.clear();
  parts_.webView->loadUrl(url);
  // The only place the native job loop is started.
  pollNativeJobs();
}

void AppDelegate::backendExited(const std::string& message) {
  // The status page replaces whatever is loading.
  backendGone_ = true;
  showStatus(kStoppedTitle, message);
}

void AppDelegate::showStatus(const std::string& title, const std::string& detail) {
  // The secondary site belongs to the backend's page; it never floats over the status page.
  // The page shows it again by asking.
  setTarvelShown(false);
  statusHtml_ = statusPageHtml(title, detail);
  parts_.webView->loadHtml(statusHtml_);
}

void AppDelegate::mainPageStopped() {
  if (!statusHtml_.empty() || startUrl_.empty()) {
    parts_.webView->loadHtml(statusHtml_);  // the shell's own page, as it was
    return;
  }
  // Never a loop: a page that stops again soon is left for the user to reload.
  const auto now = parts_.loop->now();
  const bool again = lastPageStop_ && now - *lastPageStop_ < kPageStopWindow;
  lastPageStop_ = now;
  if (again) {
    showStatus(kPageStoppedTitle, kPageStoppedDetail);
    return;
  }
  parts_.webView->loadUrl(startUrl_);
}

void AppDelegate::setTarvelShown(bool shown) {
  if (!tarvelView_) return;
  tarvelShown_ = shown;
  tarvelView_->setHidden(!shown);
}

void AppDelegate::installPageScripts() {
  parts_.webView->setPageScript(webprefs::pageScript(webprefs::read(*parts_.settings)));
}

void AppDelegate::receiveScriptMessage(const PageMessage& message) {
  // Any other page the main view may show, on this machine or not, has no say here.
  if (!isHomeOrigin(message.origin, homeOrigins_)) return;
  dispatchBridgeMessage(message.json, message.document, *this);
}

void AppDelegate::answerPage(std::vector<std::string> documents, const std::string& callback,
                             const std::string& json) {
  std::sort(documents.begin(), documents.end());
  documents.erase(std::unique(documents.begin(), documents.end()), documents.end());
  for (const auto& document : documents) parts_.webView->callPage(document, callback, json);
}

void AppDelegate::setPref(const std::string& key, const std::string& value) {
  if (webprefs::set(*parts_.settings, key, value) == webprefs::Change::Stored) {
    installPageScripts();
  }
}

void AppDelegate::openExternal(const std::string& url) {
  parts_.urlOpener->open(url);
}

void AppDelegate::openSignIn(const SignInRequest& request, const std::string& document) {
  if (!parts_.signInWindows) return;
  if (!SignInController::acceptsAddress(request.url)) return;

  if (const auto open = signIns_.find(request.id); open != signIns_.end()) {
    open->second->show();
    signInAskers_[request.id].push_back(document);  // it waits for the same answer
    return;
  }
  auto controller = SignInController::create(*parts_.signInWindows, parts_.loop, request.url,
                                             request.title, request.domains, request.key);
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  controller->onFinish = [weak, id = request.id](const std::optional<nlohmann::json>& result,
                                                 const std::string&) {
    if (auto self = weak.lock()) self->answerSignIn(id, result);
  };
  signIns_[request.id] = controller;
  signInAskers_[request.id] = {document};
  controller->show();
}

void AppDelegate::answerSignIn(const std::string& id, const std::optional<nlohmann::json>& result) {
  signIns_.erase(id);
  auto askers = std::move(signInAskers_[id]);
  signInAskers_.erase(id);
  if (const auto json = signin::pageAnswer(id, result)) {
    answerPage(std::move(askers), "brivokSignedIn", *json);
  }
  parts_.window->present();
}

void AppDelegate::forgetSignIn(const std::string& key) {
  if (key.empty() || !parts_.signInWindows) return;
  parts_.signInWindows->forget(key);
}

void AppDelegate::showTarvel(bool visible, const std::vector<double>& cssRect, bool reload) {
  // A request to show with anything but a four-number rectangle hides the view.
  if (!visible || cssRect.size() != 4) {
    setTarvelShown(false);
    return;
  }
  if (!tarvelView_) {
    if (!parts_.makeTarvelView || !(tarvelView_ = parts_.makeTarvelView())) return;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    tarvelView_->setOnStopped([weak] {
      auto self = weak.lock();
      if (!self) return;
      // Shown, it comes back at once; hidden, when it is shown again.
      if (self->tarvelShown_) {
        self->loadTarvel();
      } else {
        self->tarvelStale_ = true;
      }
    });
    loadTarvel();
  } else if (reload || tarvelStale_) {
    loadTarvel();
  }
  tarvelStale_ = false;
  tarvelView_->place(cssRect[0], cssRect[1], cssRect[2], cssRect[3]);
  setTarvelShown(true);
}

void AppDelegate::loadTarvel() {
  tarvelView_->loadUrl(parts_.tarvelUrl);
}

void AppDelegate::pickPaths(const std::string& document) {
  if (!parts_.pathChooser) return;
  // One chooser at a time: a second request brings the open one back, and its single
  // answer ends both requests.
  pathAskers_.push_back(document);
  if (choosingPaths_) {
    parts_.pathChooser->present();
    return;
  }
  choosingPaths_ = true;
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  parts_.pathChooser->choose([weak](std::vector<std::string> paths) {
    if (auto self = weak.lock()) self->answerPickedPaths(paths);
  });
}

void AppDelegate::answerPickedPaths(const std::vector<std::string>& paths) {
  choosingPaths_ = false;
  // A file name that is not UTF-8 cannot reach the page as the same path; it is left out
  // rather than handed on changed, and the page still learns that the request ended.
  nlohmann::json list = nlohmann::json::array();
  for (const auto& path : paths) {
    if (isValidUtf8(path)) list.push_back(path);
  }
  answerPage(std::exchange(pathAskers_, {}), "brivokPickedPaths", list.dump());
}

}  // namespace brivok
