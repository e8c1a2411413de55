#include "app/WindowFrame.h"

#include <algorithm>

namespace brivok {

namespace {
constexpr int kCoordinateLimit = 1 << 15;  // beyond any screen arrangement

std::optional<int> intField(const nlohmann::json& object, const char* name) {
  auto it = object.find(name);
  if (it == object.end() || !it->is_number()) return std::nullopt;
  const double v = it->get<double>();
  if (!(v > -kCoordinateLimit && v < kCoordinateLimit)) return std::nullopt;
  return static_cast<int>(v);
}
}  // namespace

std::optional<WindowFrame> WindowFrame::load(const SettingsStore& store) {
  const auto stored = store.read(kSettingsKey);
  if (!stored || !stored->is_object()) return std::nullopt;
  const auto x = intField(*stored, "x");
  const auto y = intField(*stored, "y");
  const auto w = intField(*stored, "width");
  const auto h = intField(*stored, "height");
  if (!x || !y || !w || !h || *w <= 0 || *h <= 0) return std::nullopt;
  return WindowFrame{*x, *y, std::max(*w, kMinWidth), std::max(*h, kMinHeight)};
}

bool WindowFrame::save(SettingsStore& store) const {
  if (load(store) == *this) return true;
  return store.write(kSettingsKey,
                     nlohmann::json{{"x", x}, {"y", y}, {"width", width}, {"height", height}});
}

bool WindowFrame::reachableOn(const std::vector<Rect>& workAreas) const {
  constexpr int kGrip = 96;    // wide enough to drag
  constexpr int kBar = 24;     // the title bar's top
  constexpr int kShadow = 64;  // a window drawing its own frame counts its shadow in
  for (const auto& a : workAreas) {
    const int visible = std::min(x + width, a.x + a.width) - std::max(x, a.x);
    if (visible >= std::min(kGrip, width) && y >= a.y - kShadow && y + kBar <= a.y + a.height)
      return true;
  }
  return workAreas.empty();
}

}  // namespace brivok
