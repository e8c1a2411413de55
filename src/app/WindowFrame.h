#pragma once

#include <optional>
#include <vector>

#include "core/Rect.h"
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

  // Whether the user can take hold of the window where it stands: enough of its top edge,
  // where the title bar is, lies in one of the screens' work areas. A frame saved on a screen
  // that is gone is not. With no screens known, any frame is.
  bool reachableOn(const std::vector<Rect>& workAreas) const;
};

}  // namespace brivok
