// What a person sees at start-up: from launch until the program's window is on screen, and
// until its page area shows something to read (more than one colour below the menu bar), by
// looking at the display itself. Usage: first_frame COMMAND [ARG...]; prints "MAP_MS CONTENT_MS".
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

extern char** environ;

namespace {

// The largest viewable top-level window that was not there before the launch.
Window newWindow(Display* display, const std::set<Window>& before) {
  Window root = DefaultRootWindow(display), parent = 0, *children = nullptr, best = 0;
  unsigned count = 0;
  int bestArea = 0;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes a;
    if (before.count(children[i]) || !XGetWindowAttributes(display, children[i], &a)) continue;
    if (a.map_state == IsViewable && a.width * a.height > bestArea && a.width >= 400) {
      best = children[i];
      bestArea = a.width * a.height;
    }
  }
  if (children) XFree(children);
  return best;
}

// Whether the window's page area (below its first 60 rows, where a menu bar may be) holds
// more than one colour.
bool showsContent(Display* display, Window window) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(display, window, &a) || a.height < 120) return false;
  XImage* image = XGetImage(display, window, 0, 60, a.width, a.height - 70, AllPlanes, ZPixmap);
  if (!image) return false;
  const unsigned long first = XGetPixel(image, 0, 0);
  bool more = false;
  for (int y = 0; y < image->height && !more; y += 2) {
    for (int x = 0; x < image->width && !more; x += 2) more = XGetPixel(image, x, y) != first;
  }
  XDestroyImage(image);
  return more;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: first_frame COMMAND [ARG...]\n");
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 1;
  XSetErrorHandler(+[](Display*, XErrorEvent*) { return 0; });  // windows come and go
  std::set<Window> before;
  {
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(display, root, &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) before.insert(children[i]);
    if (children) XFree(children);
  }
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  pid_t child = 0;
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);  // ended with all it starts
  if (posix_spawnp(&child, argv[1], nullptr, &attributes, argv + 1, environ) != 0) return 1;
  const auto ms = [&] {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  };
  double mapped = -1, content = -1;
  Window window = 0;
  while (ms() < 30000 && content < 0) {
    if (!window) {
      window = newWindow(display, before);
      if (window) mapped = ms();
    }
    if (window && showsContent(display, window)) content = ms();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::printf("%.0f %.0f\n", mapped, content);
  kill(-child, SIGTERM);
  waitpid(child, nullptr, 0);
  XCloseDisplay(display);
  return content >= 0 ? 0 : 1;
}
