// Sign-in window costs, measured on the local login site under a virtual display:
//  - time from the page's "signin" message to the sign-in page's load finished, against
//    loading the same page in a fresh web view with a fresh context, in the same run;
//  - memory of one open sign-in window (proportional set size of the shell's growth and of
//    the engine processes the window started).
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ProcessMemory.h"
#include "app/AppDelegate.h"
#include "gtk/GlibEventLoop.h"
#include "gtk/WebContexts.h"
#include "gtk/WebKitMainView.h"
#include "gtk/WebKitOffscreenPages.h"
#include "gtk/WebKitSignInWindow.h"

using namespace brivok;
using Clock = std::chrono::steady_clock;

namespace {

void spinUntil(const std::function<bool()>& done) {
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (!done() && Clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
}

// Lets the engine processes of what was just closed end before the next timing: otherwise
// whichever side runs next pays for the other's teardown.
void settle() {
  const auto until = Clock::now() + std::chrono::seconds(1);
  spinUntil([&] { return Clock::now() > until; });
}

bool waitForFinish(WebKitWebView* view) {
  bool finished = false;
  const gulong id = g_signal_connect(view, "load-changed",
                                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent e, gpointer f) {
                                       if (e == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(f) = true;
                                     }),
                                     &finished);
  spinUntil([&] { return finished; });
  g_signal_handler_disconnect(view, id);
  return finished;
}

WebKitWebView* viewIn(const char* title) {
  WebKitWebView* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* l = windows; l && !found; l = l->next) {
    if (g_strcmp0(gtk_window_get_title(GTK_WINDOW(l->data)), title) != 0) continue;
    std::function<void(GtkWidget*)> walk = [&](GtkWidget* w) {
      if (WEBKIT_IS_WEB_VIEW(w)) found = WEBKIT_WEB_VIEW(w);
      if (!found && GTK_IS_CONTAINER(w))
        gtk_container_foreach(
            GTK_CONTAINER(w),
            [](GtkWidget* c, gpointer f) {
              (*static_cast<std::function<void(GtkWidget*)>*>(f))(c);
            },
            &walk);
    };
    walk(GTK_WIDGET(l->data));
  }
  g_list_free(windows);
  return found;
}

using bench::children;
long pssKiB(int pid) {
  return bench::memoryKiB(pid);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: signin_bench SITE_ORIGIN DATA_DIR [ROUNDS]\n");
    return 2;
  }
  const std::string page = std::string(argv[1]) + "/login.html";
  const std::string dataDir = argv[2];
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 10;

  auto loop = std::make_shared<GlibEventLoop>();
  auto mainView = std::make_shared<WebKitMainView>([](const PageMessage&) {});
  GtkWidget* mainWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_container_add(GTK_CONTAINER(mainWindow), mainView->widget());
  gtk_widget_show_all(mainWindow);
  struct Window : AppWindow {
    void present() override {}
    void alert(const std::string&, const std::string&) override {}
  };
  auto signIns = std::make_shared<WebKitSignInWindows>(
      std::make_shared<WebKitStores>(dataDir + "/data", dataDir + "/cache"));
  auto delegate = AppDelegate::create(
      {loop, nullptr, mainView, std::make_shared<Window>(), nullptr, nullptr, signIns});

  std::vector<double> signIn, fresh, onDisk;
  for (int i = 0; i <= rounds; ++i) {
    // Sign-in window on a key of its own, so its store is as new as the fresh context.
    const std::string id = "bench-" + std::to_string(i);
    settle();
    auto start = Clock::now();
    delegate->openSignIn(SignInRequest{id, page, id, {}, id}, "");
    WebKitWebView* view = viewIn(id.c_str());
    if (!view || !waitForFinish(view)) {
      std::fprintf(stderr, "the sign-in page did not load\n");
      return 1;
    }
    const double a = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    gtk_window_close(GTK_WINDOW(gtk_widget_get_toplevel(GTK_WIDGET(view))));  // as Cancel

    // A fresh view on a fresh context, in memory and on disk: a sign-in key's store is on
    // disk, so the second shows what the window itself adds. Takes the context's reference.
    const auto plainLoad = [&](WebKitWebContext* context) {
      settle();
      const auto began = Clock::now();
      GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
      gtk_window_set_default_size(GTK_WINDOW(window), 1040, 780);
      GtkWidget* plain = webkit_web_view_new_with_context(context);
      gtk_container_add(GTK_CONTAINER(window), plain);
      gtk_widget_show_all(window);
      webkit_web_view_load_uri(WEBKIT_WEB_VIEW(plain), page.c_str());
      const bool loaded = waitForFinish(WEBKIT_WEB_VIEW(plain));
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
      gtk_widget_destroy(window);
      g_object_unref(context);
      return loaded ? ms : -1;
    };
    const double b = plainLoad(webkit_web_context_new_ephemeral());
    const double c =
        plainLoad(newPersistentContext(dataDir + "/plain-" + id, dataDir + "/plain-cache-" + id));
    if (b < 0 || c < 0) return 1;
    if (i == 0) continue;  // the first round warms the caches of both
    signIn.push_back(a);
    fresh.push_back(b);
    onDisk.push_back(c);
  }
  std::printf("sign-in message to page loaded: median %.1f ms\n", median(signIn));
  std::printf("fresh view, fresh context:      median %.1f ms\n", median(fresh));
  std::printf("fresh view, fresh on-disk store:  median %.1f ms\n", median(onDisk));
  std::printf("ratio: %.2f (%d rounds); against the on-disk store: %.2f\n",
              median(signIn) / median(fresh), rounds, median(signIn) / median(onDisk));

  // Memory of one open window: let earlier rounds' engine processes end first.
  for (int i = 0; i < 20; ++i) g_main_context_iteration(nullptr, FALSE);
  g_usleep(2000000);
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  const std::set<int> before = children();
  const long selfBefore = pssKiB(getpid());
  delegate->openSignIn(SignInRequest{"memory", page, "memory", {}, "memory"}, "");
  WebKitWebView* measured = viewIn("memory");
  if (!measured || !waitForFinish(measured)) return 1;
  g_usleep(500000);
  long engine = 0;
  for (int pid : children()) {
    if (!before.count(pid)) engine += pssKiB(pid);
  }
  const long growth = pssKiB(getpid()) - selfBefore;
  std::printf("one open sign-in window: %.1f MiB (engine processes %.1f MiB, shell %+.1f MiB)\n",
              (engine + growth) / 1024.0, engine / 1024.0, growth / 1024.0);
  gtk_window_close(GTK_WINDOW(gtk_widget_get_toplevel(GTK_WIDGET(measured))));
  return 0;
}
