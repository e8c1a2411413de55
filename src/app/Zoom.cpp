#include "app/Zoom.h"

#include <cmath>
#include <iterator>

namespace brivok::zoom {

double next(double level, int direction) {
  constexpr double kSame = 0.005;  // a step shown as a rounded number is that step
  if (direction > 0) {
    for (const double step : kLevels) {
      if (step > level + kSame) return step;
    }
    return kLevels[std::size(kLevels) - 1];
  }
  for (auto it = std::rbegin(kLevels); it != std::rend(kLevels); ++it) {
    if (*it < level - kSame) return *it;
  }
  return kLevels[0];
}

std::optional<double> load(const SettingsStore& store) {
  const auto stored = store.read(kSettingsKey);
  if (!stored || !stored->is_number()) return std::nullopt;
  const double level = stored->get<double>();
  if (!(level >= kLevels[0] && level <= kLevels[std::size(kLevels) - 1])) return std::nullopt;
  return level;
}

bool save(SettingsStore& store, double level) {
  const auto kept = load(store);
  if (kept && std::fabs(*kept - level) < 1e-9) return true;
  return store.write(kSettingsKey, level);
}

}  // namespace brivok::zoom
