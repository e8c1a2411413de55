#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "platform/SettingsStore.h"

namespace brivok {

// The page's small string settings that survive restarts.
namespace webprefs {

inline constexpr const char* kSettingsKey = "BrivokWebPrefs";
inline constexpr std::size_t kMaxKeyLength = 40;
inline constexpr std::size_t kMaxValueCharacters = 200;  // extended grapheme clusters
inline constexpr std::size_t kMaxKeys = 50;

using Map = std::map<std::string, std::string>;

// 1 to 40 characters, each an ASCII letter or digit, "_", "." or "-".
bool isValidKey(std::string_view key);
// Extended grapheme clusters in UTF-8 text (user-perceived characters).
std::size_t characterCount(std::string_view text);

// The stored map without its malformed entries (values that are not strings); empty when
// nothing usable is stored.
Map read(const SettingsStore& store);

enum class Change { Refused, Unchanged, Stored, NotSaved };
// Validates and stores one preference; only Stored means the map on disk changed.
Change set(SettingsStore& store, const std::string& key, const std::string& value);

// The document-start script that hands the map to every page load.
std::string pageScript(const Map& prefs);

}  // namespace webprefs
}  // namespace brivok
