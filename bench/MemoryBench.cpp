// Four pages that take memory without end, never yielding, read as native jobs at once: how
// far the engine's processes grow before each page meets its limit, and when the jobs end.
// Usage: memory_bench SITE_ORIGIN DATA_DIR [PAGES]
#include <gtk/gtk.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ProcessMemory.h"
#include "gtk/GlibEventLoop.h"
#include "gtk/WebContexts.h"
#include "gtk/WebKitOffscreenPages.h"
#include "jobs/PageRenderer.h"

using namespace brivok;

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: memory_bench SITE_ORIGIN DATA_DIR [PAGES]\n");
    return 2;
  }
  const std::string page = std::string(argv[1]) + "/render-hog.html";
  const std::string data = argv[2];
  const int count = argc > 3 ? std::atoi(argv[3]) : 4;
  auto loop = std::make_shared<GlibEventLoop>();
  WebKitOffscreenPages pages(std::make_shared<WebKitStores>(data + "/data", data + "/cache"));
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  int left = count;
  std::vector<double> ended;
  std::vector<std::string> errors;
  std::vector<std::shared_ptr<PageRenderer>> running;
  for (int i = 0; i < count; ++i) {
    running.push_back(
        PageRenderer::create(pages, loop, page, "", {},
                             [&](const std::optional<nlohmann::json>&, const std::string& error) {
                               ended.push_back(seconds());
                               errors.push_back(error);
                               --left;
                             }));
  }
  long peakKiB = 0;
  auto lastSample = Clock::now() - std::chrono::seconds(1);
  while (left > 0 && seconds() < 90) {
    g_main_context_iteration(nullptr, FALSE);
    if (Clock::now() - lastSample >= std::chrono::milliseconds(100)) {
      lastSample = Clock::now();
      long total = 0;
      for (int pid : bench::children()) total += bench::memoryKiB(pid, "VmRSS:", "status");
      peakKiB = std::max(peakKiB, total);
    }
    g_usleep(2000);
  }
  std::printf("memory limit of each page's web process: %u MiB\n", unwatchedMemoryLimitMiB());
  std::printf("peak resident memory of the engine's processes: %.0f MiB (%d pages)\n",
              peakKiB / 1024.0, count);
  for (std::size_t i = 0; i < ended.size(); ++i) {
    std::printf("job %zu ended after %.1f s: %s\n", i + 1, ended[i], errors[i].c_str());
  }
  return left == 0 ? 0 : 1;
}
