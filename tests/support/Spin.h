#pragma once

#include <glib.h>

#include <chrono>
#include <functional>

namespace brivok::testing {

// Turns the GLib main loop until `done` holds or `seconds` have passed.
inline bool spin(const std::function<bool()>& done, double seconds = 20) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  // A ticking source so a blocking iteration never outlasts the deadline by much.
  const guint tick = g_timeout_add(
      10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  // `done` is asked once a turn: it may take what it finds.
  bool held = false;
  while (!(held = done()) && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(tick);
  return held;
}

inline void pause(double seconds) {
  spin([] { return false; }, seconds);
}

}  // namespace brivok::testing
