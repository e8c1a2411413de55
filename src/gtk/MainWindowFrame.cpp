#include "gtk/MainWindowFrame.h"

#include <vector>

#include "app/WindowFrame.h"
#include "app/Zoom.h"

namespace brivok {
namespace {

constexpr Duration kFrameSaveDelay{400};

// The work areas of the screens now attached.
std::vector<Rect> workAreas() {
  std::vector<Rect> areas;
  GdkDisplay* display = gdk_display_get_default();
  const int count = display ? gdk_display_get_n_monitors(display) : 0;
  for (int i = 0; i < count; ++i) {
    GdkRectangle area;
    gdk_monitor_get_workarea(gdk_display_get_monitor(display, i), &area);
    areas.push_back({area.x, area.y, area.width, area.height});
  }
  return areas;
}

}  // namespace

MainWindowFrame::MainWindowFrame(GtkWindow* window, WebKitWebView* page,
                                 std::shared_ptr<SettingsStore> settings,
                                 std::shared_ptr<EventLoop> loop)
    : window_(window), settings_(std::move(settings)), loop_(std::move(loop)) {
  gtk_widget_set_size_request(GTK_WIDGET(window_), WindowFrame::kMinWidth, WindowFrame::kMinHeight);
  if (auto frame = WindowFrame::load(*settings_)) {
    gtk_window_set_default_size(window_, frame->width, frame->height);
    // A frame left on a screen that is gone comes back centred, at its size.
    if (frame->reachableOn(workAreas())) {
      gtk_window_move(window_, frame->x, frame->y);
    } else {
      gtk_window_set_position(window_, GTK_WIN_POS_CENTER);
    }
  } else {
    gtk_window_set_default_size(window_, WindowFrame::kDefaultWidth, WindowFrame::kDefaultHeight);
    gtk_window_set_position(window_, GTK_WIN_POS_CENTER);
  }
  connections_.add(
      window_, "configure-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
        auto* self = static_cast<MainWindowFrame*>(data);
        // Moves and resizes come in bursts; saved once the window is at rest.
        self->pending_ = Timer::after(self->loop_, kFrameSaveDelay, [self] { self->save(); });
        return FALSE;
      }),
      this);
  connections_.add(window_, "delete-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                     static_cast<MainWindowFrame*>(data)->save();
                     return FALSE;
                   }),
                   this);
  connections_.add(window_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer data) {
                     auto* self = static_cast<MainWindowFrame*>(data);
                     self->pending_.cancel();
                     self->window_ = nullptr;
                   }),
                   this);

  if (const auto level = zoom::load(*settings_)) webkit_web_view_set_zoom_level(page, *level);
  connections_.add(
      page, "notify::zoom-level", G_CALLBACK(+[](GObject* view, GParamSpec*, gpointer data) {
        auto* self = static_cast<MainWindowFrame*>(data);
        zoom::save(*self->settings_, webkit_web_view_get_zoom_level(WEBKIT_WEB_VIEW(view)));
      }),
      this);
}

void MainWindowFrame::save() {
  pending_.cancel();
  if (!window_ || !gtk_widget_get_realized(GTK_WIDGET(window_))) return;
  // The frame kept is the window's own: full screen, maximized or tiled, its size is the
  // screen's, and a later start would open a plain window that covers the screen.
  const GdkWindowState state = gdk_window_get_state(gtk_widget_get_window(GTK_WIDGET(window_)));
  if (state & (GDK_WINDOW_STATE_FULLSCREEN | GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_TILED))
    return;
  WindowFrame frame;
  gtk_window_get_position(window_, &frame.x, &frame.y);
  gtk_window_get_size(window_, &frame.width, &frame.height);
  frame.save(*settings_);
}

}  // namespace brivok
