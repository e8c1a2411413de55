#pragma once

#include <optional>

#include "platform/SettingsStore.h"

namespace brivok {

// The main window's position and size, kept across runs under "BrivokMain".
struct WindowFrame {
  static constexpr const char* kSettingsKey = "BrivokMain";
  static constexpr int kDefaultWidth = 1180;
  static constexpr int kDefaultHeight = 780;
  static constexpr int kMinWidth = 720;
  static constexpr int kMinHeight = 480;

  int x = 0;
  int y = 0;
  int width = kDefaultWidth;
  int height = kDefaultHeight;

  bool operator==(const WindowFrame&) const = default;

  // The saved frame, or nothing when none is saved or it is unusable. A saved size below the
  // minimum is raised to it.
  static std::optional<WindowFrame> load(const SettingsStore& store);
  bool save(SettingsStore& store) const;
};

}  // namespace brivok
