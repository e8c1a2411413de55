#include "app/WebPrefs.h"

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include <memory>

namespace brivok::webprefs {

bool isValidKey(std::string_view key) {
  if (key.empty() || key.size() > kMaxKeyLength) return false;
  for (const char c : key) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '.' || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::size_t characterCount(std::string_view text) {
  if (text.empty()) return 0;
  UErrorCode status = U_ZERO_ERROR;
  UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
  std::unique_ptr<icu::BreakIterator> it(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  std::size_t count = 0;
  if (U_SUCCESS(status) && it) {
    it->setText(ut, status);
    if (U_SUCCESS(status)) {
      it->first();
      while (it->next() != icu::BreakIterator::DONE) ++count;
    }
  }
  utext_close(ut);
  // Without ICU's answer, count bytes: never more lenient than the real count.
  return U_SUCCESS(status) ? count : text.size();
}

Map read(const SettingsStore& store) {
  const auto stored = store.read(kSettingsKey);
  Map prefs;
  if (!stored || !stored->is_object()) return prefs;
  // One bad entry costs only itself: the next change stores the good ones again.
  for (const auto& [key, value] : stored->items()) {
    if (value.is_string()) prefs.emplace(key, value.get<std::string>());
  }
  return prefs;
}

Change set(SettingsStore& store, const std::string& key, const std::string& value) {
  if (!isValidKey(key)) return Change::Refused;
  if (characterCount(value) > kMaxValueCharacters) return Change::Refused;
  Map prefs = read(store);
  if (!prefs.empty()) {
    auto it = prefs.find(key);
    if (it != prefs.end() && it->second == value) return Change::Unchanged;
    if (prefs.size() >= kMaxKeys && it == prefs.end()) return Change::Refused;
  }
  prefs[key] = value;
  return store.write(kSettingsKey, nlohmann::json(prefs)) ? Change::Stored : Change::NotSaved;
}

std::string pageScript(const Map& prefs) {
  std::string json = "{}";
  try {
    json = nlohmann::json(prefs).dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::exception&) {
    json = "{}";
  }
  return "window.brivokNative = true; window.brivokPrefs = " + json + ";";
}

}  // namespace brivok::webprefs
