#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "FakeEventLoop.h"
#include "FakeSignInWindows.h"
#include "RecordingOpener.h"
#include "TempDir.h"
#include "app/AppDelegate.h"
#include "app/CliInstaller.h"
#include "app/MenuModel.h"
#include "app/Paths.h"
#include "app/SettingsFile.h"
#include "app/StatusPage.h"
#include "app/WebPrefs.h"
#include "app/WindowFrame.h"
#include "app/Zoom.h"
#include "core/Files.h"
#include "signin/SignInData.h"

namespace brivok {
namespace {

using testing::FakeEventLoop;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// A settings store in memory that counts its writes.
class MemoryStore : public SettingsStore {
 public:
  std::optional<nlohmann::json> read(const std::string& key) const override {
    auto it = values.find(key);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  bool write(const std::string& key, const nlohmann::json& value) override {
    ++writes;
    values[key] = value;
    return true;
  }
  std::map<std::string, nlohmann::json> values;
  int writes = 0;
};

class FakeView : public MainWebView {
 public:
  void loadUrl(const std::string& url) override {
    events.push_back("load " + url);
    loading = true;
  }
  void loadHtml(const std::string& html) override {
    events.push_back("html");
    lastHtml = html;
  }
  bool isLoading() const override { return loading; }
  void stopLoading() override {
    events.push_back("stop");
    loading = false;
  }
  void setPageScript(const std::string& source) override {
    events.push_back("script");
    script = source;
  }
  void setHomeOrigins(const std::vector<std::string>& origins) override { home = origins; }
  void callPage(const std::string& document, const std::string& callback,
                const std::string& json) override {
    events.push_back("call " + document + " " + callback + " " + json);
  }
  void reload() override { events.push_back("reload"); }
  void setOnStopped(std::function<void()> handler) override { stopped = std::move(handler); }
  std::function<void()> stopped;

  std::vector<std::string> events;
  std::string lastHtml, script;
  std::vector<std::string> home;
  bool loading = false;
};

class FakeWindow : public AppWindow {
 public:
  void present() override { ++presented; }
  void alert(const std::string& message, const std::string& detail) override {
    alerts.push_back(message + "|" + detail);
  }
  int presented = 0;
  std::vector<std::string> alerts;
};

TEST(StatusPage, TextsAreEscaped) {
  const auto html = statusPageHtml("<b>", "See /tmp/a&b/<script>x</script>.log.");
  EXPECT_NE(html.find("&lt;b&gt;"), std::string::npos);
  EXPECT_NE(html.find("See /tmp/a&amp;b/&lt;script&gt;x&lt;/script&gt;.log."), std::string::npos);
  EXPECT_EQ(html.find("<script>"), std::string::npos);
  // The secondary site of a build that never got one says so, not the resolver's error.
  EXPECT_NE(secondarySiteProblemHtml("https://app.tarvel.example/").find("No secondary site"),
            std::string::npos);
  EXPECT_NE(secondarySiteProblemHtml("https://app.tarvel.com/").find("could not be reached"),
            std::string::npos);
}

TEST(WebPrefs, KeysValuesAndTheFiftyKeyLimit) {
  for (const std::string& good : {std::string("ui.sidebar-width"), std::string("A_b.C-9"),
                                  std::string("..."), std::string(40, 'k')})
    EXPECT_TRUE(webprefs::isValidKey(good)) << good;
  for (const std::string& bad :
       {std::string(), std::string("a b"), std::string("a/b"), std::string(41, 'k'),
        std::string("caf\xC3\xA9"), std::string("a\0b", 3), std::string("k:v")})
    EXPECT_FALSE(webprefs::isValidKey(bad)) << bad;
  // The value limit counts what a user sees as one character: a family emoji, e + accent.
  MemoryStore store;
  const std::string family =
      "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
  EXPECT_EQ(webprefs::characterCount("e\xCC\x81"), 1u);
  std::string v200;
  for (int i = 0; i < 200; ++i) v200 += family;
  EXPECT_EQ(webprefs::set(store, "k", v200), webprefs::Change::Stored);
  EXPECT_EQ(webprefs::set(store, "k2", v200 + "x"), webprefs::Change::Refused);
  EXPECT_EQ(webprefs::set(store, "k4", std::string(201, 'x')), webprefs::Change::Refused);
  for (int i = 1; i < 50; ++i) webprefs::set(store, "n" + std::to_string(i), "");
  EXPECT_EQ(store.writes, 50);
  EXPECT_EQ(webprefs::set(store, "k50", "v"), webprefs::Change::Refused);
  EXPECT_EQ(webprefs::set(store, "n7", "new"), webprefs::Change::Stored);
  EXPECT_EQ(webprefs::set(store, "n7", "new"), webprefs::Change::Unchanged);
  EXPECT_EQ(store.writes, 51);
  EXPECT_EQ(webprefs::read(store).size(), 50u);
}

TEST(WebPrefs, ABadEntryCostsOnlyItselfAndThePageScriptIsAlwaysWhole) {
  MemoryStore store;
  store.values[webprefs::kSettingsKey] = {{"a", "1"}, {"b", 2}, {"c", nullptr}};
  EXPECT_EQ(webprefs::read(store), (webprefs::Map{{"a", "1"}}));
  EXPECT_EQ(webprefs::set(store, "d", "x\"</script>"), webprefs::Change::Stored);
  EXPECT_EQ(webprefs::pageScript(webprefs::read(store)),
            "window.brivokNative = true; window.brivokPrefs = "
            "{\"a\":\"1\",\"d\":\"x\\\"</script>\"};");
  store.values[webprefs::kSettingsKey] = "not a map";
  EXPECT_TRUE(webprefs::read(store).empty());
  // Text that cannot be serialised falls back to an empty map rather than a broken script.
  EXPECT_EQ(webprefs::pageScript({{"a", "\xFF"}}),
            "window.brivokNative = true; window.brivokPrefs = {};");
}

TEST(Zoom, StepsFromAnyLevelAndOnlyAReachableOneComesBack) {
  const struct {
    double from;
    int direction;
    double to;
  } steps[] = {
      {1.0, 1, 1.1},   {1.0, -1, 0.9}, {1.33, 1, 1.5}, {1.333333, -1, 1.2}, {1.05, 1, 1.1},
      {1.05, -1, 1.0}, {3.0, 1, 3.0},  {0.3, -1, 0.3}, {9.0, -1, 3.0},      {0.01, 1, 0.3},
  };
  for (const auto& s : steps) EXPECT_DOUBLE_EQ(zoom::next(s.from, s.direction), s.to) << s.from;
  MemoryStore store;
  EXPECT_FALSE(zoom::load(store));
  EXPECT_TRUE(zoom::save(store, 1.2));
  EXPECT_DOUBLE_EQ(*zoom::load(store), 1.2);
  EXPECT_TRUE(zoom::save(store, 1.2));
  EXPECT_EQ(store.writes, 1);
  for (const auto& bad : {nlohmann::json(40.0), nlohmann::json(0.0), nlohmann::json("1.2"),
                          nlohmann::json(nullptr), nlohmann::json(-1)}) {
    store.values[zoom::kSettingsKey] = bad;
    EXPECT_FALSE(zoom::load(store)) << bad;
  }
}

TEST(SettingsFile, KeysAreKeptApartWrittenPrivatelyAndACorruptFileIsKeptAside) {
  TempDir dir;
  const auto path = dir / "config/brivok/settings.json";
  SettingsFile file(path);
  ASSERT_TRUE(file.write("BrivokMain", {{"x", 1}}));
  ASSERT_TRUE(file.write("BrivokWebPrefs", {{"a", "b"}}));
  EXPECT_EQ(*file.read("BrivokMain"), (nlohmann::json{{"x", 1}}));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  writeFile(path, "{\"BrivokMain\": {\"x\": 1,");
  EXPECT_FALSE(file.read("BrivokMain"));
  EXPECT_EQ(readFile(path), "{\"BrivokMain\": {\"x\": 1,");  // reading changes nothing
  ASSERT_TRUE(file.write("BrivokWebPrefs", {{"a", "b"}}));
  EXPECT_EQ(*file.read("BrivokWebPrefs"), (nlohmann::json{{"a", "b"}}));
  std::vector<std::string> names;  // and no temporary file is left behind
  for (const auto& entry : std::filesystem::directory_iterator(dir / "config/brivok"))
    names.push_back(entry.path().filename().string());
  ASSERT_EQ(names.size(), 2u);
  const auto aside = names[0] == "settings.json" ? names[1] : names[0];
  EXPECT_EQ(aside.rfind("settings.json.corrupt-", 0), 0u);
  EXPECT_EQ(readFile(dir / ("config/brivok/" + aside)), "{\"BrivokMain\": {\"x\": 1,");
}

TEST(SettingsFile, HostileFilesAreKeptAsideWithoutBlockingOrCrashing) {
  TempDir dir;
  const auto path = dir / "settings.json";
  SettingsFile file(path);
  // Nesting that overflowed the stack at every start, or wrote a file of hundreds of MB.
  for (std::size_t depth : {100u, 100000u}) {
    writeFile(path, "{\"BrivokMain\":" + std::string(depth, '[') + std::string(depth, ']') + "}");
    EXPECT_FALSE(file.read("BrivokMain"));
    ASSERT_TRUE(file.write("BrivokWebPrefs", {{"a", "b"}}));
    EXPECT_LT(std::filesystem::file_size(path), 100u);
  }
  // A FIFO would block the reader for good; a link to another file is not followed.
  std::filesystem::remove(path);
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_FALSE(file.read("BrivokWebPrefs"));
  ASSERT_TRUE(file.write("BrivokWebPrefs", {{"a", "b"}}));
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
  std::filesystem::remove(path);
  writeFile(dir / "elsewhere.json", R"({"BrivokWebPrefs": {"x": "y"}})");
  std::filesystem::create_symlink(dir / "elsewhere.json", path);
  EXPECT_FALSE(file.read("BrivokWebPrefs"));
  ASSERT_TRUE(file.write("BrivokWebPrefs", {{"a", "b"}}));
  EXPECT_EQ(readFile(dir / "elsewhere.json"), R"({"BrivokWebPrefs": {"x": "y"}})");
}

TEST(SettingsFile, UnreadablePrefsNeverCostTheFrameOrTheReverse) {
  TempDir dir;
  const auto path = dir / "settings.json";
  writeFile(
      path,
      R"({"BrivokWebPrefs": [1, 2], "BrivokMain": {"x": 5, "y": 6, "width": 900, "height": 700}})");
  SettingsFile file(path);
  EXPECT_TRUE(webprefs::read(file).empty());
  EXPECT_EQ(webprefs::set(file, "k", "v"), webprefs::Change::Stored);
  EXPECT_EQ(WindowFrame::load(file), (WindowFrame{5, 6, 900, 700}));
  writeFile(path, R"({"BrivokWebPrefs": {"k": "v"}, "BrivokMain": "junk"})");
  EXPECT_FALSE(WindowFrame::load(file));
  ASSERT_TRUE((WindowFrame{1, 2, 800, 600}).save(file));
  EXPECT_EQ(webprefs::read(file), (webprefs::Map{{"k", "v"}}));
}

TEST(WindowFrameTest, SavedFramesAreCheckedAndRaisedToTheMinimum) {
  MemoryStore store;
  store.values["BrivokMain"] = {{"x", 10}, {"y", 20}, {"width", 100}, {"height", 100}};
  EXPECT_EQ(WindowFrame::load(store), (WindowFrame{10, 20, 720, 480}));
  store.values["BrivokMain"] = {{"x", 10}, {"y", "20"}, {"width", 800}, {"height", 600}};
  EXPECT_FALSE(WindowFrame::load(store));
  store.values["BrivokMain"] = {{"x", 1e12}, {"y", 0}, {"width", 800}, {"height", 600}};
  EXPECT_FALSE(WindowFrame::load(store));
  store.values.clear();
  WindowFrame f{3, 4, 1000, 700};
  f.save(store);
  f.save(store);
  EXPECT_EQ(store.writes, 1);  // an unchanged frame is not written again

  // Only a frame whose title bar can be taken hold of is placed where it was saved.
  const std::vector<Rect> screens = {{0, 0, 1400, 900}, {1400, 0, 1920, 1080}};
  const struct {
    WindowFrame frame;
    bool reachable;
  } places[] = {
      {{100, 50, 1000, 700}, true},    {{3000, 900, 800, 600}, true},    // the second screen
      {{3000, 2000, 800, 600}, false}, {{-950, 10, 1000, 700}, false},   // a screen now gone
      {{-900, 10, 1000, 700}, true},   {{100, -100, 1000, 700}, false},  // bar above the top
  };
  for (const auto& p : places) EXPECT_EQ(p.frame.reachableOn(screens), p.reachable) << p.frame.x;
  EXPECT_TRUE((WindowFrame{100, -30, 1000, 700}).reachableOn(screens));  // its own shadow
  EXPECT_TRUE((WindowFrame{5000, 5000, 800, 600}).reachableOn({}));
}

TEST(PathsTest, FollowsXdgRulesAndTheExecutablesPlace) {
  auto p = Paths::from(
      {{"HOME", "/home/u/"}, {"XDG_CONFIG_HOME", "/cfg"}, {"XDG_STATE_HOME", "relative/ignored"}},
      "/opt/brivok/bin/brivok");
  EXPECT_EQ(p.home, "/home/u");
  EXPECT_EQ(p.settingsFile(), "/cfg/brivok/settings.json");
  EXPECT_EQ(p.logFile(), "/home/u/.local/state/brivok/backend.log");
  EXPECT_EQ(p.dataDir, "/home/u/.local/share/brivok");
  EXPECT_EQ(p.cacheDir, "/home/u/.cache/brivok");
  EXPECT_EQ(p.resources, "/opt/brivok/share/brivok");
}

// The start-up sweep makes the shell's own files private, and nothing else.
TEST(PathsTest, TheSweepMakesOwnFilesPrivateAndLeavesLinkedOnesAlone) {
  TempDir dir;
  const auto mode = [](const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & 0777;
  };
  const std::string root = dir / "data/brivok";
  writeFile(root + "/stores/a/cookies.sqlite", "x");
  writeFile(dir / "precious", "keep");
  writeFile(dir / "elsewhere", "keep");
  ASSERT_EQ(link((dir / "precious").c_str(), (root + "/linked").c_str()), 0);
  std::filesystem::create_symlink(dir / "elsewhere", root + "/symlink");
  for (const auto& p : {root + "/stores/a/cookies.sqlite", dir / "precious", dir / "elsewhere"})
    chmod(p.c_str(), 0644);
  chmod((root + "/stores").c_str(), 0755);
  makeTreePrivate(root);
  EXPECT_EQ(mode(root + "/stores/a/cookies.sqlite"), 0600u);
  EXPECT_EQ(mode(root + "/stores"), 0700u);
  EXPECT_EQ(mode(dir / "precious"), 0644u);  // the same file under another name
  EXPECT_EQ(mode(dir / "elsewhere"), 0644u);
}

struct DelegateFixture : ::testing::Test {
  std::shared_ptr<FakeEventLoop> loop = std::make_shared<FakeEventLoop>();
  std::shared_ptr<MemoryStore> store = std::make_shared<MemoryStore>();
  std::shared_ptr<FakeView> view = std::make_shared<FakeView>();
  std::shared_ptr<FakeWindow> window = std::make_shared<FakeWindow>();
  std::shared_ptr<testing::RecordingOpener> opener = std::make_shared<testing::RecordingOpener>();
  std::shared_ptr<testing::FakeSignInWindows> signIns =
      std::make_shared<testing::FakeSignInWindows>();
  TempDir dir;

  std::shared_ptr<AppDelegate> make(std::shared_ptr<Backend> backend = nullptr) {
    return AppDelegate::create({loop, store, view, window, opener, std::move(backend), signIns});
  }
  // A delegate whose backend is ready at kHome.
  static constexpr const char* kHome = "http://127.0.0.1:4100";
  std::shared_ptr<Backend> backend =
      Backend::create(loop, {dir / "no-res", dir.path(), dir / "log/backend.log", {}});
  std::shared_ptr<AppDelegate> ready(AppDelegate::Parts parts) {
    parts.backend = backend;
    auto delegate = AppDelegate::create(std::move(parts));
    delegate->didFinishLaunching();
    backend->onReady(std::string(kHome) + "/ui/");
    view->events.clear();
    return delegate;
  }
  std::shared_ptr<AppDelegate> ready() {
    return ready({loop, store, view, window, opener, nullptr, signIns});
  }
};

TEST_F(DelegateFixture, LaunchShowsTheStartingPageOrTheStoppedPageWhenNothingCanRun) {
  auto delegate = make();
  delegate->didFinishLaunching();
  EXPECT_EQ(view->events, (std::vector<std::string>{"script", "html"}));
  EXPECT_EQ(window->presented, 1);
  EXPECT_NE(view->lastHtml.find(AppDelegate::kStartingTitle), std::string::npos);

  auto backend = Backend::create(loop, {dir / "no-res", dir.path(), dir / "log/backend.log", {}});
  make(backend)->didFinishLaunching();
  EXPECT_NE(view->lastHtml.find(Backend::kMissingRuntimeMessage), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "log"));  // no log is touched
  for (const auto& e : view->events) EXPECT_EQ(e.rfind("load ", 0), std::string::npos);
}

TEST_F(DelegateFixture, SetPrefReinstallsTheScriptOnlyWhenSomethingChangedAndOnlyHttpsGoesOut) {
  auto delegate = ready();
  const auto send = [&](const char* json) { delegate->receiveScriptMessage({json, kHome, "d"}); };
  send(R"({"action":"setPref","key":"theme","value":"dark"})");
  EXPECT_EQ(view->events, (std::vector<std::string>{"script"}));  // the page itself is untouched
  EXPECT_EQ(view->script, "window.brivokNative = true; window.brivokPrefs = {\"theme\":\"dark\"};");
  send(R"({"action":"setPref","key":"theme","value":"dark"})");
  send(R"({"action":"setPref","key":"bad key","value":"x"})");
  send(R"({"action":"setPref","key":"n","value":1})");
  EXPECT_EQ(view->events.size(), 1u);
  EXPECT_EQ(store->writes, 1);
  send(R"({"action":"openExternal","url":"http://example.com/"})");
  send(R"({"action":"openExternal","url":"https://example.com/x"})");
  EXPECT_EQ(opener->opened, (std::vector<std::string>{"https://example.com/x"}));
}

TEST_F(DelegateFixture, OnlyTheBackendsOwnOriginDrivesTheBridge) {
  auto delegate = make();
  delegate->didFinishLaunching();
  const std::string setPref = R"({"action":"setPref","key":"k","value":"v"})";
  delegate->receiveScriptMessage({setPref, kHome, "d"});  // no backend page yet: nobody is home
  delegate = ready();
  EXPECT_EQ(view->home, (std::vector<std::string>{kHome, "http://localhost:4100"}));
  for (const char* stranger : {"http://127.0.0.1:4101", "https://127.0.0.1:4100", "null", "",
                               "http://127.0.0.2:4100", "http://127.0.0.1:4100.evil.example"}) {
    delegate->receiveScriptMessage({setPref, stranger, "d"});
    delegate->receiveScriptMessage(
        {R"({"action":"openExternal","url":"https://a.example/"})", stranger, "d"});
    delegate->receiveScriptMessage({R"({"action":"forgetSignIn","key":"bank"})", stranger, "d"});
    delegate->receiveScriptMessage(
        {R"({"action":"signin","id":"1","url":"https://bank.example/","key":"bank"})", stranger,
         "d"});
  }
  EXPECT_EQ(store->writes, 0);
  EXPECT_TRUE(opener->opened.empty());
  EXPECT_TRUE(signIns->forgotten.empty());
  EXPECT_TRUE(signIns->windows.empty());
  // 127.0.0.1 and localhost are one host for it.
  delegate->receiveScriptMessage({setPref, "http://localhost:4100", "d"});
  EXPECT_EQ(store->writes, 1);
}

TEST_F(DelegateFixture, ReadyLoadsTheBackendsPageAndAnExitReplacesIt) {
  auto backend = Backend::create(loop, {dir / "no-res", dir.path(), dir / "backend.log", {}});
  auto delegate = make(backend);
  delegate->didFinishLaunching();
  view->events.clear();
  backend->onReady("http://127.0.0.1:4100/");
  EXPECT_EQ(view->events, (std::vector<std::string>{"load http://127.0.0.1:4100/"}));

  backend->onExit("The Brivok backend stopped (exit 1). See /x/backend.log.");
  EXPECT_NE(view->lastHtml.find("The Brivok backend stopped (exit 1). See /x/backend.log."),
            std::string::npos);
  EXPECT_EQ(loop->pendingTimers(), 0u);
  // A delegate that is gone ignores the backend.
  view->events.clear();
  delegate.reset();
  backend->onExit("late");
  backend->onReady("http://127.0.0.1:1/");
  EXPECT_TRUE(view->events.empty());
}

class FakeTarvel : public TarvelView {
 public:
  void loadUrl(const std::string& url) override { loads.push_back(url); }
  bool isLoading() const override { return false; }
  void stopLoading() override {}
  void setOnStopped(std::function<void()> handler) override { stopped = std::move(handler); }
  void place(double, double, double, double) override {}
  void setHidden(bool h) override { hidden = h; }
  std::vector<std::string> loads;
  std::function<void()> stopped;
  bool hidden = true;
};

TEST_F(DelegateFixture, AViewWhoseWebProcessWentAwayComesBackButNeverInALoop) {
  auto tarvel = std::make_shared<FakeTarvel>();
  AppDelegate::Parts parts{loop, store, view, window, opener, nullptr, signIns};
  parts.makeTarvelView = [tarvel] { return tarvel; };
  auto delegate = make();
  delegate->didFinishLaunching();
  view->stopped();  // while starting: the status page again, as it was
  EXPECT_EQ(view->events.back(), "html");
  EXPECT_NE(view->lastHtml.find(AppDelegate::kStartingTitle), std::string::npos);

  delegate = ready(std::move(parts));
  const std::string home = std::string(kHome) + "/ui/";
  view->stopped();
  EXPECT_EQ(view->events, std::vector<std::string>{"load " + home});
  loop->advance(std::chrono::seconds(59));
  view->stopped();  // again within a minute: the user decides
  EXPECT_EQ(view->events.back(), "html");
  EXPECT_NE(view->lastHtml.find(AppDelegate::kPageStoppedDetail), std::string::npos);
  view->stopped();
  EXPECT_EQ(view->events.back(), "html");
  delegate->reload();
  EXPECT_EQ(view->events.back(), "load " + home);
  loop->advance(std::chrono::seconds(61));
  view->stopped();
  EXPECT_EQ(view->events.back(), "load " + home);

  // The secondary site comes back at once when shown, else when next shown.
  const std::string show = R"({"action":"tarvel","visible":true,"rect":[0,0,10,10]})";
  const std::string hide = R"({"action":"tarvel","visible":false})";
  delegate->receiveScriptMessage({show, kHome, "d"});
  ASSERT_EQ(tarvel->loads.size(), 1u);
  tarvel->stopped();
  EXPECT_EQ(tarvel->loads.size(), 2u);
  delegate->receiveScriptMessage({hide, kHome, "d"});
  tarvel->stopped();
  EXPECT_EQ(tarvel->loads.size(), 2u);
  delegate->receiveScriptMessage({show, kHome, "d"});
  EXPECT_EQ(tarvel->loads.size(), 3u);
  EXPECT_FALSE(tarvel->hidden);
  delegate->receiveScriptMessage({show, kHome, "d"});
  EXPECT_EQ(tarvel->loads.size(), 3u);
}

struct SignInDelegateTest : DelegateFixture {
  std::shared_ptr<AppDelegate> delegate = ready();
  void post(const nlohmann::json& body, const std::string& document = "d") {
    delegate->receiveScriptMessage({body.dump(), kHome, document});
  }
  std::vector<std::string> calls() const {
    std::vector<std::string> out;
    for (const auto& e : view->events)
      if (e.rfind("call ", 0) == 0) out.push_back(e.substr(5));
    return out;
  }
};

TEST_F(SignInDelegateTest, RefusedRequestsOpenNothingAndForgetErasesTheKeysStoreOnly) {
  for (const auto& body : {
           nlohmann::json{{"action", "signin"}, {"id", "x"}, {"url", "http://a.example/"}},
           nlohmann::json{{"action", "signin"}, {"id", "x"}, {"url", "HTTPS://a.example/"}},
           nlohmann::json{{"action", "signin"}, {"id", "x"}, {"url", "file:///etc/passwd"}},
           nlohmann::json{{"action", "signin"}, {"id", "x"}, {"url", "http://LOCALHOST/"}},
           // Web pages only, on this machine too.
           nlohmann::json{{"action", "signin"}, {"id", "x"}, {"url", "ftp://127.0.0.1/"}},
           nlohmann::json{{"action", "signin"}, {"id", "x"}, {"url", "file://localhost/etc/x"}},
           nlohmann::json{{"action", "signin"}, {"id", "x"}, {"url", "file://127.0.0.1/etc/x"}},
           nlohmann::json{{"action", "signin"}, {"id", "x"}, {"url", "javascript://127.0.0.1/"}},
           nlohmann::json{{"action", "signin"}, {"id", "x"}, {"url", "https:///etc/passwd"}},
           nlohmann::json{{"action", "forgetSignIn"}, {"key", ""}},
           nlohmann::json{{"action", "forgetSignIn"}, {"key", 3}},
       }) {
    post(body);
  }
  EXPECT_TRUE(signIns->windows.empty());
  EXPECT_TRUE(signIns->forgotten.empty());
  post({{"action", "signin"}, {"id", "l"}, {"url", "http://localhost:8123/login"}});
  post({{"action", "signin"}, {"id", "i"}, {"url", "https://127.0.0.1/"}});
  EXPECT_EQ(signIns->windows.size(), 2u);
  post({{"action", "forgetSignIn"}, {"key", "work"}});
  EXPECT_EQ(signIns->forgotten, std::vector<std::string>{"work"});
}

TEST_F(SignInDelegateTest, SameIdBringsTheWindowForwardNewIdOpensOnTheSameStore) {
  post({{"action", "signin"}, {"id", "a"}, {"url", "https://a.example/"}, {"key", "k"}});
  ASSERT_EQ(signIns->windows.size(), 1u);
  auto& first = *signIns->windows[0];
  EXPECT_EQ(first.shown, 1);
  post({{"action", "signin"}, {"id", "a"}, {"url", "https://other.example/"}});
  EXPECT_EQ(signIns->windows.size(), 1u);
  EXPECT_EQ(first.shown, 2);
  post({{"action", "signin"}, {"id", "b"}, {"url", "https://a.example/"}, {"key", "k"}});
  ASSERT_EQ(signIns->windows.size(), 2u);
  EXPECT_EQ(signIns->windows[1]->options.key, "k");
}

TEST_F(SignInDelegateTest, AnAnswerGoesOnlyToTheDocumentsThatAsked) {
  post({{"action", "signin"}, {"id", "a"}, {"url", "https://a.example/"}}, "first");
  post({{"action", "signin"}, {"id", "a"}, {"url", "https://a.example/"}}, "reloaded");
  post({{"action", "signin"}, {"id", "a"}, {"url", "https://a.example/"}}, "reloaded");
  post({{"action", "signin"}, {"id", "b"}, {"url", "https://a.example/"}}, "other");
  signIns->windows[0]->close();
  EXPECT_EQ(calls(),
            (std::vector<std::string>{R"(first brivokSignedIn {"cancelled":true,"id":"a"})",
                                      R"(reloaded brivokSignedIn {"cancelled":true,"id":"a"})"}));
}

TEST_F(SignInDelegateTest, AnswersReachThePageAndBringTheMainWindowBack) {
  post({{"action", "signin"},
        {"id", "q\"1"},
        {"url", "https://a.example/"},
        {"domains", {"a.example"}}});
  auto& w = *signIns->windows[0];
  const int presented = window->presented;
  w.close();
  EXPECT_EQ(calls(),
            std::vector<std::string>{R"(d brivokSignedIn {"cancelled":true,"id":"q\"1"})"});
  EXPECT_EQ(window->presented, presented + 1);
  // The same id opens a new window once the old one has ended.
  post({{"action", "signin"}, {"id", "q\"1"}, {"url", "https://a.example/"}});
  EXPECT_EQ(signIns->windows.size(), 2u);
  // A page title that is not valid UTF-8 cannot be sent; the window still comes back.
  signIns->windows[1]->fakePage->currentTitle = "\xff";
  signIns->windows[1]->events()->finishPressed();
  const auto before = view->events.size();
  signIns->windows[1]->fakePage->cookies->deliverCookies({});
  EXPECT_EQ(view->events.size(), before);
  EXPECT_EQ(window->presented, presented + 2);
}

class FakeChooser : public PathChooser {
 public:
  void choose(Done d) override {
    ++shown;
    done = std::move(d);
  }
  void present() override { ++presented; }
  Done done;
  int shown = 0, presented = 0;
};

struct BridgeDelegateTest : DelegateFixture {
  std::shared_ptr<FakeChooser> chooser = std::make_shared<FakeChooser>();
  std::shared_ptr<AppDelegate> delegate;

  void SetUp() override {
    AppDelegate::Parts parts{loop, store, view, window, opener, nullptr, signIns};
    parts.pathChooser = chooser;
    delegate = ready(std::move(parts));
  }
  void send(const std::string& json, const std::string& document) {
    delegate->receiveScriptMessage({json, kHome, document});
  }
};

TEST_F(BridgeDelegateTest, PickedPathsReachTheAskingPagesAsJsonAndASecondRequestRaisesTheChooser) {
  send(R"({"action":"pickPaths"})", "first");
  send(R"({"action":"pickPaths"})", "second");
  EXPECT_EQ(chooser->shown, 1);
  EXPECT_EQ(chooser->presented, 1);
  // A quote, a non-ASCII name, and a name that is not UTF-8 (left out rather than changed).
  chooser->done({"/home/u/Say \"hi\"", "/home/u/Caf\xC3\xA9", "/home/u/bad\xFF", "/tmp/a.txt"});
  const std::string paths = "[\"/home/u/Say \\\"hi\\\"\",\"/home/u/Caf\xC3\xA9\",\"/tmp/a.txt\"]";
  EXPECT_EQ(view->events, (std::vector<std::string>{"call first brivokPickedPaths " + paths,
                                                    "call second brivokPickedPaths " + paths}));
  // The next request waits for an answer of its own.
  send(R"({"action":"pickPaths"})", "third");
  chooser->done({});
  EXPECT_EQ(view->events.back(), "call third brivokPickedPaths []");
}

TEST(CommandLineTool, ScriptQuotesAnyInstallPath) {
  const struct {
    const char* path;
    const char* line3;
  } quoting[] = {
      {"/a b/c", "RES=\"/a b/c\""},       {"/a\"b", "RES=\"/a\\\"b\""},
      {"/$HOME/x", "RES=\"/\\$HOME/x\""}, {"/`id`", "RES=\"/\\`id\\`\""},
      {"/a\\b", "RES=\"/a\\\\b\""},       {"/caf\xC3\xA9 'q'", "RES=\"/caf\xC3\xA9 'q'\""},
  };
  for (const auto& q : quoting) {
    const auto text = cli::script(q.path);
    EXPECT_NE(text.find("\n" + std::string(q.line3) + "\n"), std::string::npos) << q.path;
  }
}

TEST(CommandLineTool, InstallsFoldersAndScriptOrSaysWhyNot) {
  TempDir dir;
  const auto home = dir / "home";
  std::filesystem::create_directories(home);
  const mode_t shells = umask(077);  // as the shell runs
  auto first = cli::install(home, "/opt/b/share/brivok", 022);
  umask(shells);
  ASSERT_TRUE(first.ok) << first.detail;
  EXPECT_EQ(first.detail.rfind(home + "/.local/bin/brivok\n", 0), 0u) << first.detail;
  struct stat st {};
  ASSERT_EQ(stat((home + "/.local/bin/brivok").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  ASSERT_EQ(stat((home + "/.local").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);  // the user's umask, not the shell's own
  ASSERT_EQ(stat((home + "/.local/bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  writeFile(home + "/.local/bin/brivok", "edited");
  EXPECT_TRUE(cli::install(home, "/opt/b/share/brivok", 022).ok);
  EXPECT_EQ(readFile(home + "/.local/bin/brivok"), cli::script("/opt/b/share/brivok"));

  const auto blocked = dir / "blocked";
  writeFile(blocked + "/.local", "a file where the folder goes");
  const auto failure = cli::install(blocked, "/r", 022);
  EXPECT_FALSE(failure.ok);
  EXPECT_EQ(failure.detail,
            "Could not create the folder " + blocked + "/.local/bin: Not a directory.");
}

TEST_F(DelegateFixture, ReloadBeforeAndAfterReadinessAndTheFolderCommands) {
  auto backend = Backend::create(loop, {dir / "no-res", dir.path(), dir / "state/backend.log", {}});
  AppDelegate::Parts parts{loop, store, view, window, opener, backend, signIns};
  parts.home = dir / "home";
  auto delegate = AppDelegate::create(std::move(parts));
  delegate->didFinishLaunching();
  view->events.clear();
  delegate->reload();  // the backend could not start: the page that says why stays
  EXPECT_EQ(view->events, std::vector<std::string>{"html"});
  backend->onReady("http://127.0.0.1:4100/");
  view->events.clear();
  delegate->reload();  // back to the start address, wherever the page went
  EXPECT_EQ(view->events, std::vector<std::string>{"load http://127.0.0.1:4100/"});
  backend->onExit("The Brivok backend stopped (exit 1).");
  delegate->reload();  // its address leads nowhere now: the page that says why stays
  EXPECT_EQ(view->events.back(), "html");
  EXPECT_NE(view->lastHtml.find("stopped (exit 1)"), std::string::npos);

  delegate->openHome();
  EXPECT_TRUE(std::filesystem::is_directory(dir / "home/.brivok"));
  std::filesystem::remove(dir / "home/.brivok");
  writeFile(dir / "home/.brivok", "in the way");
  delegate->openHome();
  delegate->openLog();
  EXPECT_EQ(opener->opened, (std::vector<std::string>{"file://" + dir / "home/.brivok",
                                                      "file://" + dir / "home/.brivok",
                                                      "file://" + dir / "state/backend.log"}));
  // Opened: nothing to say. Nothing on the desktop took it: an alert names the path.
  ASSERT_EQ(opener->answers.size(), 3u);
  opener->answers[0](true);
  EXPECT_TRUE(window->alerts.empty());
  opener->answers[1](false);
  opener->answers[2](false);
  ASSERT_EQ(window->alerts.size(), 2u);
  EXPECT_NE(window->alerts[0].find("The folder is " + dir / "home/.brivok" + "."),
            std::string::npos);
  EXPECT_NE(window->alerts[1].find("The log is " + dir / "state/backend.log" + "."),
            std::string::npos);
}

}  // namespace
}  // namespace brivok
