// The settings file as read at every start: the page preferences and the window frame.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/WebPrefs.h"
#include "app/WindowFrame.h"
#include "core/Json.h"

namespace {

struct Memory : brivok::SettingsStore {
  nlohmann::json object;
  std::optional<nlohmann::json> read(const std::string& key) const override {
    const auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    return *it;
  }
  bool write(const std::string& key, const nlohmann::json& value) override {
    object[key] = value;
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = brivok::parseJsonObject(text, 4 * 1024 * 1024);
  if (!parsed) return 0;
  Memory store;
  store.object = std::move(*parsed);
  const auto prefs = brivok::webprefs::read(store);
  const std::string script = brivok::webprefs::pageScript(prefs);
  if (script.rfind("window.brivokNative = true; window.brivokPrefs = {", 0) != 0) __builtin_trap();
  brivok::webprefs::set(store, "fuzz.key", "value");
  if (brivok::webprefs::read(store).size() < std::min<std::size_t>(prefs.size(), 1)) {
    __builtin_trap();  // a good preference was lost to a bad neighbour
  }
  if (auto frame = brivok::WindowFrame::load(store)) frame->save(store);
  // What is written back must be text a later start can read again.
  const std::string written =
      store.object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  if (!brivok::parseJsonObject(written, 64 * 1024 * 1024)) __builtin_trap();
  return 0;
}
