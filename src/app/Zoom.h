#pragma once

#include <optional>

#include "platform/SettingsStore.h"

namespace brivok::zoom {

// The steps of View → Zoom In and Zoom Out, as browsers offer them; Actual Size is 1.
inline constexpr double kLevels[] = {0.3, 0.5,  0.67, 0.8, 0.9, 1.0, 1.1,
                                     1.2, 1.33, 1.5,  1.7, 2.0, 2.4, 3.0};

// The next step in `direction` (+1 in, -1 out) from `level`, which need not be a step itself;
// the end steps stay where they are.
double next(double level, int direction);

// The main view's zoom, kept across runs beside the window's frame.
inline constexpr const char* kSettingsKey = "BrivokMainZoom";
// The saved zoom, or nothing when none is saved or it is not one the steps reach.
std::optional<double> load(const SettingsStore& store);
bool save(SettingsStore& store, double level);

}  // namespace brivok::zoom
