// The floor for start-up: a bare GTK/WebKit program that does what any shell of the backend
// must, in series: GTK up, a window with a web view, then the backend started, its address read
// and loaded. Usage: bare_start RESOURCES (the backend's standard error goes to this program's).
#include <gtk/gtk.h>
#include <sys/prctl.h>
#include <webkit2/webkit2.h>

#include <csignal>

#include <string>

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc < 2) return 2;
  const std::string resources = argv[1];
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 1180, 780);
  WebKitWebContext* context = webkit_web_context_new_ephemeral();
  GtkWidget* view = webkit_web_view_new_with_context(context);
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

  GSubprocessLauncher* launcher =
      g_subprocess_launcher_new(GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE));
  const std::string path = resources + "/app:" + resources + "/site-packages";
  g_subprocess_launcher_setenv(launcher, "PYTHONPATH", path.c_str(), TRUE);
  // The benchmark ends this program with SIGTERM; its backend must not outlive it.
  g_subprocess_launcher_set_child_setup(
      launcher, [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGKILL); }, nullptr, nullptr);
  g_subprocess_launcher_setenv(launcher, "BRIVOK_DESKTOP_TOKEN", "BARESTART0123456789ABCDEF0123456",
                               TRUE);
  const std::string python = resources + "/python/bin/python3";
  GSubprocess* backend =
      g_subprocess_launcher_spawn(launcher, nullptr, python.c_str(), "-m", "brivok_cli.main",
                                  "desktop", "--port", "0", nullptr);
  g_object_unref(launcher);
  if (!backend) return 1;
  GDataInputStream* out = g_data_input_stream_new(g_subprocess_get_stdout_pipe(backend));
  char* line = g_data_input_stream_read_line(out, nullptr, nullptr, nullptr);
  const std::string prefix = "BRIVOK_READY ";
  if (line && std::string(line).rfind(prefix, 0) == 0) {
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), line + prefix.size());
  }
  g_free(line);
  gtk_main();
  g_subprocess_force_exit(backend);
  return 0;
}
