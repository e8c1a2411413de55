#include <gtk/gtk.h>

#include "GtkTestSupport.h"
#include "app/WebPrefs.h"
#include "bridge/NavigationPolicy.h"
#include "gtk/GlibEventLoop.h"
#include "gtk/SoupHttpClient.h"
#include "gtk/WebKitMainView.h"
#include "jobs/BackendClient.h"

namespace brivok {
namespace {

using namespace testing;

// The reference backend's own page in a main view, as a new user first sees it.
TEST(ReferencePage, SaysPlainlyWhatHappened) {
  const std::string token = "PAGETEST0123456789ABCDEF01234567";
  GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE);
  g_subprocess_launcher_setenv(launcher, "BRIVOK_DESKTOP_TOKEN", token.c_str(), TRUE);
  const std::string code = std::string(BRIVOK_SOURCE_DIR) + "/resources/app";
  g_subprocess_launcher_setenv(launcher, "PYTHONPATH", code.c_str(), TRUE);
  GSubprocess* backend = g_subprocess_launcher_spawn(
      launcher, nullptr, BRIVOK_PYTHON, "-m", "brivok_cli.main", "desktop", "--port", "0", nullptr);
  g_object_unref(launcher);
  ASSERT_TRUE(backend);
  GDataInputStream* out = g_data_input_stream_new(g_subprocess_get_stdout_pipe(backend));
  char* line = g_data_input_stream_read_line(out, nullptr, nullptr, nullptr);
  const std::string address =
      line ? std::string(line).substr(std::string("BRIVOK_READY ").size()) : "";
  g_free(line);
  g_object_unref(out);

  std::vector<std::string> posts;
  auto view =
      std::make_shared<WebKitMainView>([&](const PageMessage& m) { posts.push_back(m.json); });
  view->setHomeOrigins(homeOrigins(address));
  view->setPageScript(webprefs::pageScript({}));
  ShownWindow window(view->widget());
  window.present();
  view->loadUrl(address);
  ASSERT_TRUE(waitForPage(view->view(), address));
  const auto js = [&](const std::string& script) {
    return evaluate(view->view(), script).value_or("");
  };
  const auto text = [&](const char* selector) {
    return js(std::string("document.querySelector('") + selector + "').innerText");
  };

  // Every field has a name of its own for a screen reader, not its example text.
  EXPECT_EQ(js("[...document.querySelectorAll('input')].every((i) => {"
               " const l = document.getElementById(i.getAttribute('aria-labelledby'));"
               " return l && l.textContent.trim() !== '' &&"
               " (!i.placeholder || !l.textContent.includes(i.placeholder)); })"),
            "true");

  // A saved preference shows at once and its value can be cleared.
  js("document.getElementById('pref-key').value = 'ui.theme';"
     "document.getElementById('pref-value').value = 'dark';"
     "document.getElementById('pref-form').requestSubmit(); 1");
  EXPECT_NE(text("#prefs tbody").find("ui.theme\\tdark"), std::string::npos)
      << text("#prefs tbody");
  js("document.querySelector('#prefs tbody button').click(); 1");
  EXPECT_NE(text("#prefs tbody").find("(empty)"), std::string::npos);
  EXPECT_EQ(posts.size(), 2u);

  // Opening a link says what was asked, not what happened.
  js("document.getElementById('link-form').requestSubmit(); 1");
  EXPECT_EQ(text("#link-note"), "\"Asked the app to open it in your browser.\"");

  // A job that fails is listed as failed, with its reason, and the note follows it.
  js("document.getElementById('job-url').value = 'http://127.0.0.1:1/';"
     "document.getElementById('job-form').requestSubmit(); 1");
  ASSERT_TRUE(spin([&] { return text("#job-note") == "\"Queued.\""; }, 5));
  auto loop = std::make_shared<GlibEventLoop>();
  BackendClient client(
      std::make_shared<SoupHttpClient>(), [&] { return std::optional<std::string>(address); },
      token);
  std::optional<nlohmann::json> job;
  bool answered = false;
  client.request("/api/native/next", std::nullopt, std::chrono::seconds(10),
                 [&](std::optional<nlohmann::json> reply) {
                   answered = true;
                   if (reply && reply->contains("job")) job = (*reply)["job"];
                 });
  ASSERT_TRUE(spin([&] { return answered; }, 15));
  ASSERT_TRUE(job);
  client.request("/api/native/done",
                 nlohmann::json{{"job", (*job)["job"]},
                                {"ok", false},
                                {"result", nlohmann::json::object()},
                                {"error", "the page didn't load"}},
                 std::chrono::seconds(10), nullptr);
  EXPECT_TRUE(
      spin([&] { return text("#job-note") == "\"The job failed: the page didn't load.\""; }, 10))
      << text("#job-note");
  const std::string row = text("#jobs tbody tr");
  EXPECT_NE(row.find("\\tfailed\\t"), std::string::npos) << row;
  EXPECT_NE(row.find("Failed: the page didn't load"), std::string::npos) << row;
  // Short words stay whole in their narrow column.
  EXPECT_EQ(js("getComputedStyle(document.querySelector('#jobs td:nth-child(2)')).whiteSpace"),
            "\"nowrap\"");

  // A sign-in's answer in sentences.
  js("document.getElementById('signin-url').value = 'https://a.example/';"
     "document.getElementById('signin-form').requestSubmit();"
     "window.brivokSignedIn({id: 'signin-1', cookies: [{name: 'sid'}], remember: true}); 1");
  const std::string signIn = text("#signins");
  EXPECT_NE(signIn.find("Cookies handed over: sid."), std::string::npos) << signIn;
  EXPECT_EQ(signIn.find("remember: yes"), std::string::npos) << signIn;

  g_subprocess_force_exit(backend);
  g_subprocess_wait(backend, nullptr, nullptr);
  g_object_unref(backend);
}

}  // namespace
}  // namespace brivok
