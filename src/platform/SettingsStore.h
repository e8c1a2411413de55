#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace brivok {

// The shell's own settings that survive restarts: one JSON value per top-level key.
// Reads are fresh on every call; nothing is cached.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The value stored under `key`, or nothing when there is none or it cannot be read.
  virtual std::optional<nlohmann::json> read(const std::string& key) const = 0;
  // Stores `value` under `key`, keeping every other key. False when it could not be saved.
  virtual bool write(const std::string& key, const nlohmann::json& value) = 0;
};

}  // namespace brivok
