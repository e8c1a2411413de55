#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

#include "backend/Backend.h"
#include "bridge/BridgeMessage.h"
#include "core/EventLoop.h"
#include "core/Timer.h"
#include "jobs/NativeJobs.h"
#include "platform/AppWindow.h"
#include "platform/MainWebView.h"
#include "platform/PathChooser.h"
#include "platform/SettingsStore.h"
#include "platform/SignInWindow.h"
#include "platform/TarvelView.h"
#include "platform/UrlOpener.h"
#include "signin/SignInController.h"

namespace brivok {

// The owner of everything that lives for the whole run: the main window and its web view,
// the backend supervisor, and what the page asks of the shell.
class AppDelegate : public BridgeHandler, public std::enable_shared_from_this<AppDelegate> {
 public:
  // The secondary site: its start address and the domain whose hosts stay in its view.
  static constexpr const char* kTarvelUrl = BRIVOK_TARVEL_URL;
  static constexpr const char* kTarvelDomain = BRIVOK_TARVEL_DOMAIN;

  struct Parts {
    std::shared_ptr<EventLoop> loop;
    std::shared_ptr<SettingsStore> settings;
    std::shared_ptr<MainWebView> webView;
    std::shared_ptr<AppWindow> window;
    std::shared_ptr<UrlOpener> urlOpener;
    std::shared_ptr<Backend> backend;  // may be absent in tests of the page side alone
    std::shared_ptr<SignInWindows> signInWindows;
    std::shared_ptr<PathChooser> pathChooser{};
    // Makes the secondary site's view over the main view, on the first request to show it.
    std::function<std::shared_ptr<TarvelView>()> makeTarvelView{};
    std::string tarvelUrl = kTarvelUrl;
    std::shared_ptr<NativeJobs> jobs{};  // none: no native jobs
    std::string home{};                  // the user's home folder
    std::string resources{};             // RES, where the command-line tool runs from
    mode_t userUmask = 022;              // what the user's own files are made with
  };

  static constexpr const char* kStartingTitle = "Starting Brivok…";
  static constexpr const char* kStartingDetail = "Loading your agents and schedules.";
  static constexpr const char* kStoppedTitle = "Brivok stopped";
  // The main view's page whose web process went away twice within kPageStopWindow.
  static constexpr Duration kPageStopWindow = std::chrono::seconds(60);
  static constexpr const char* kPageStoppedTitle = "Brivok's page stopped";
  static constexpr const char* kPageStoppedDetail =
      "The page stopped unexpectedly twice within a minute, so it was not loaded again. Choose "
      "Reload in the View menu to load it again.";

  static std::shared_ptr<AppDelegate> create(Parts parts);

  void didFinishLaunching();
  void willTerminate();

  void showStatus(const std::string& title, const std::string& detail);
  void installPageScripts();

  // A message on the "brivok" channel. Only the backend's own page is heard.
  void receiveScriptMessage(const PageMessage& message);

  // BridgeHandler
  void showTarvel(bool visible, const std::vector<double>& cssRect, bool reload) override;
  void openSignIn(const SignInRequest& request, const std::string& document) override;
  void pickPaths(const std::string& document) override;
  void forgetSignIn(const std::string& key) override;
  void setPref(const std::string& key, const std::string& value) override;
  void openExternal(const std::string& url) override;

  // The commands of the menu bar (besides the platform's own).
  void reload();
  void openHome();
  void openLog();
  void installCLI();

 private:
  explicit AppDelegate(Parts parts) : parts_(std::move(parts)) {}
  void backendReady(const std::string& url);
  void pollNativeJobs();
  void backendExited(const std::string& message);
  void answerSignIn(const std::string& id, const std::optional<nlohmann::json>& result);
  // Calls the page's `callback` in each document that asked, once.
  void answerPage(std::vector<std::string> documents, const std::string& callback,
                  const std::string& json);
  void answerPickedPaths(const std::vector<std::string>& paths);
  void loadTarvel();
  void setTarvelShown(bool shown);
  // The main view's web process went away: the page it showed comes back, once a minute.
  void mainPageStopped();
  // Hands a file address to the desktop, and says so when no application took it.
  void openOrSay(const std::string& url, const std::string& message, const std::string& detail);

  Parts parts_;
  std::string startUrl_;      // the backend's address, once it announced it
  std::string statusHtml_;    // the status page, while it is what the main view shows
  bool backendGone_ = false;  // it ended: never started again
  std::optional<Clock::time_point> lastPageStop_;
  std::vector<std::string> homeOrigins_;  // the origins of its page; none until then
  std::map<std::string, std::shared_ptr<SignInController>> signIns_;
  std::map<std::string, std::vector<std::string>> signInAskers_;  // documents, by request id
  bool choosingPaths_ = false;
  std::vector<std::string> pathAskers_;     // the documents waiting for the open chooser
  std::shared_ptr<TarvelView> tarvelView_;  // made once, then only hidden and shown
  bool tarvelShown_ = false;
  bool tarvelStale_ = false;  // its page stopped while it was hidden
};

}  // namespace brivok
