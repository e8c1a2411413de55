// Reading real pages: the given documentation pages, served on 127.0.0.1, are queued at once
// as render jobs at the real reference backend and read through the job loop (four slots),
// as the shell does. Reports pages per minute, the time per job once handed over and how many
// jobs ended at each step of the renderer's timetable, the peak PSS of the whole (this process
// and the engine's), and whether every text equals what a plain web view reads of the page.
// Usage: bench/pages.sh BUILD_DIR [DOC_DIR]
#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "ProcessMemory.h"
#include "gtk/GlibEventLoop.h"
#include "gtk/SoupHttpClient.h"
#include "gtk/WebContexts.h"
#include "gtk/WebKitOffscreenPages.h"
#include "jobs/NativeJobs.h"

using namespace brivok;
using Seconds = std::chrono::duration<double>;
using SteadyClock = std::chrono::steady_clock;

namespace {

void spinUntil(const std::function<bool()>& done, double seconds) {
  const auto deadline = SteadyClock::now() + Seconds(seconds);
  while (!done() && SteadyClock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
}

// The HTTP client of the job loop, noting when each job is handed over and when its report
// goes to the backend.
class NotingHttp : public HttpClient {
 public:
  explicit NotingHttp(std::shared_ptr<HttpClient> inner) : inner_(std::move(inner)) {}
  void send(const Request& request, std::function<void(Reply)> done) override {
    if (request.url.ends_with("/api/native/done") && request.body) {
      const auto report = nlohmann::json::parse(*request.body, nullptr, false);
      if (report.is_object()) reports[report.value("job", "")] = {SteadyClock::now(), report};
    }
    if (request.url.ends_with("/api/native/next")) {
      done = [this, done = std::move(done)](Reply reply) {
        const auto body = nlohmann::json::parse(reply.body, nullptr, false);
        if (body.is_object() && body.contains("job") && body["job"].is_object())
          handed[body["job"].value("job", "")] = SteadyClock::now();
        done(std::move(reply));
      };
    }
    inner_->send(request, std::move(done));
  }
  std::map<std::string, std::pair<SteadyClock::time_point, nlohmann::json>> reports;
  std::map<std::string, SteadyClock::time_point> handed;

 private:
  std::shared_ptr<HttpClient> inner_;
};

// Busy and total time of all processors so far, in clock ticks.
std::pair<long long, long long> cpuTicks() {
  std::ifstream stat("/proc/stat");
  std::string cpu;
  long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
  stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq;
  const long long busy = user + nice + system + irq + softirq;
  return {busy, busy + idle + iowait};
}

long totalPss() {
  long pss = bench::memoryKiB(getpid());
  for (int pid : bench::children()) pss += bench::memoryKiB(pid);
  return pss;
}

// What a plain web view shows of a page: its visible text once it has loaded and settled.
std::string plainRead(WebKitWebContext* context, const std::string& url) {
  GtkWidget* host = gtk_offscreen_window_new();
  auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context));
  gtk_widget_set_size_request(GTK_WIDGET(view), 1280, 2000);
  gtk_container_add(GTK_CONTAINER(host), GTK_WIDGET(view));
  gtk_widget_show_all(host);
  webkit_web_view_load_uri(view, url.c_str());
  spinUntil([&] { return !webkit_web_view_is_loading(view); }, 30);
  spinUntil([] { return false; }, 1.5);
  std::string text;
  bool done = false;
  webkit_web_view_evaluate_javascript(
      view, "document.body ? document.body.innerText.slice(0, 200000) : ''", -1, nullptr, nullptr,
      nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        auto* out = static_cast<std::pair<std::string*, bool*>*>(data);
        if (JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source),
                                                                     result, nullptr)) {
          char* s = jsc_value_to_string(v);
          *out->first = s ? s : "";
          g_free(s);
          g_object_unref(v);
        }
        *out->second = true;
        delete out;
      },
      new std::pair<std::string*, bool*>(&text, &done));
  spinUntil([&] { return done; }, 10);
  gtk_widget_destroy(host);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: pages_bench SITE_ORIGIN BACKEND_ADDRESS TOKEN PATH...\n");
    return 2;
  }
  const std::string origin = argv[1], address = argv[2], token = argv[3];
  std::vector<std::string> paths(argv + 4, argv + argc);
  auto loop = std::make_shared<GlibEventLoop>();
  auto stores = std::make_shared<WebKitStores>("/tmp/brivok-pages-bench/data",
                                               "/tmp/brivok-pages-bench/cache");
  auto pages = std::make_shared<WebKitOffscreenPages>(stores);
  auto http = std::make_shared<NotingHttp>(std::make_shared<SoupHttpClient>());
  auto backend = [&] { return std::optional<std::string>(address); };
  BackendClient queue(http, backend, token);

  // All queued at once, before the loop asks.
  std::map<std::string, std::string> urlOf;  // job id → page
  int queued = 0;
  for (const auto& path : paths) {
    const std::string url = origin + "/" + path;
    queue.request("/api/jobs", nlohmann::json{{"kind", "render"}, {"url", url}},
                  std::chrono::seconds(10), [&, url](std::optional<nlohmann::json> reply) {
                    ++queued;
                    if (reply && reply->contains("job")) urlOf[(*reply)["job"]] = url;
                  });
  }
  spinUntil([&] { return queued == static_cast<int>(paths.size()); }, 30);

  auto jobs = NativeJobs::create(loop, pages, std::make_unique<BackendClient>(http, backend, token),
                                 nullptr);
  const auto start = SteadyClock::now();
  const auto cpuBefore = cpuTicks();
  long peak = 0;
  guint sampler = g_timeout_add(
      250,
      +[](gpointer data) -> gboolean {
        auto* p = static_cast<long*>(data);
        *p = std::max(*p, totalPss());
        return G_SOURCE_CONTINUE;
      },
      &peak);
  jobs->poll();
  spinUntil([&] { return http->reports.size() >= urlOf.size(); }, 1800);
  g_source_remove(sampler);
  const auto cpuAfter = cpuTicks();
  const double busy = 100.0 * (cpuAfter.first - cpuBefore.first) /
                      std::max(1LL, cpuAfter.second - cpuBefore.second);
  const double minutes = Seconds(std::max_element(http->reports.begin(), http->reports.end(),
                                                  [](const auto& a, const auto& b) {
                                                    return a.second.first < b.second.first;
                                                  })
                                     ->second.first -
                                 start)
                             .count() /
                         60;
  jobs.reset();

  // Time from a job being handed over to its report, and how many ended by each step of the
  // renderer's half-second timetable: tells the pages' own load time from the shell's.
  double handed = 0;
  int paired = 0;
  std::map<int, int> byStep;  // half seconds, rounded up → jobs
  for (const auto& [id, report] : http->reports) {
    const auto it = http->handed.find(id);
    if (it == http->handed.end()) continue;
    const double s = Seconds(report.first - it->second).count();
    handed += s;
    ++paired;
    ++byStep[std::min(10, static_cast<int>(std::ceil((s - 0.2) * 2)))];
  }
  handed /= std::max(1, paired);
  std::string steps;
  for (const auto& [half, count] : byStep) {
    char step[32] = "later";
    if (half < 10) std::snprintf(step, sizeof step, "%.1f s", half / 2.0);
    steps += (steps.empty() ? "" : ", ") + std::string(step) + " ×" + std::to_string(count);
  }

  // The same pages read by a plain web view.
  WebKitWebContext* plain = newEphemeralContext();
  int same = 0, ok = 0;
  for (const auto& [id, report] : http->reports) {
    const auto& body = report.second;
    if (!body.value("ok", false)) continue;
    ++ok;
    const std::string text = body["result"].value("text", "");
    if (text == plainRead(plain, urlOf[id])) ++same;
  }
  g_object_unref(plain);
  std::printf(
      "%zu pages read in %.2f min: %.1f pages/min; %.2f s per job once handed; "
      "%d reported ok, %d texts identical to a plain web view's; peak PSS %.0f MiB; "
      "processors %.0f %% busy while reading\njobs by the timetable step they ended at (+0.2 s): "
      "%s\n",
      http->reports.size(), minutes, http->reports.size() / minutes, handed, ok, same,
      peak / 1024.0, busy, steps.c_str());
  return 0;
}
