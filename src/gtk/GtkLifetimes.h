#pragma once

#include <glib-object.h>
#include <gtk/gtk.h>

#include <memory>
#include <utility>
#include <vector>

namespace brivok {

// A signal handler that ends with its owner: disconnected when the connection goes, and
// harmless when the object it was made on went first. Move-only.
class Connection {
 public:
  Connection() = default;
  Connection(gpointer instance, gulong id) : ref_(std::make_unique<GWeakRef>()), id_(id) {
    g_weak_ref_init(ref_.get(), instance);
  }
  ~Connection() { disconnect(); }
  Connection(Connection&&) noexcept = default;
  Connection& operator=(Connection&& other) noexcept {
    if (this != &other) {
      disconnect();
      ref_ = std::move(other.ref_);
      id_ = std::exchange(other.id_, 0);
    }
    return *this;
  }

  bool connected() const { return ref_ != nullptr; }

  void disconnect() {
    if (!ref_) return;
    if (gpointer object = g_weak_ref_get(ref_.get())) {
      if (id_ && g_signal_handler_is_connected(object, id_))
        g_signal_handler_disconnect(object, id_);
      g_object_unref(object);
    }
    g_weak_ref_clear(ref_.get());
    ref_.reset();
    id_ = 0;
  }

 private:
  std::unique_ptr<GWeakRef> ref_;
  gulong id_ = 0;
};

// The connections an object made, all ended when it goes.
class Connections {
 public:
  void add(gpointer instance, const char* signal, GCallback handler, gpointer data) {
    all_.emplace_back(instance, g_signal_connect(instance, signal, handler, data));
  }
  void clear() { all_.clear(); }

 private:
  std::vector<Connection> all_;
};

// Destroys a window once the loop is idle: it may be let go from inside one of its own
// widgets' signals. The window is held until then, and one destroyed meanwhile (its close
// button, its application's end) is left as it is.
inline void destroyWhenIdle(GtkWidget* window) {
  struct Pending {
    GtkWidget* window;
    gulong watch;
    bool destroyed = false;
  };
  auto* pending = new Pending{GTK_WIDGET(g_object_ref(window)), 0};
  pending->watch = g_signal_connect(window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer data) {
                                      static_cast<Pending*>(data)->destroyed = true;
                                    }),
                                    pending);
  g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      +[](gpointer data) -> gboolean {
        auto* p = static_cast<Pending*>(data);
        if (!p->destroyed) gtk_widget_destroy(p->window);
        return G_SOURCE_REMOVE;
      },
      pending,
      +[](gpointer data) {
        auto* p = static_cast<Pending*>(data);
        // A destroyed window has dropped its handlers already.
        if (g_signal_handler_is_connected(p->window, p->watch)) {
          g_signal_handler_disconnect(p->window, p->watch);
        }
        g_object_unref(p->window);
        delete p;
      });
}

}  // namespace brivok
