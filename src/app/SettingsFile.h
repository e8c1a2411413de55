#pragma once

#include <string>

#include "platform/SettingsStore.h"

namespace brivok {

// The settings store as one JSON object in a file. Each key is independent: a key whose
// value cannot be used is the reader's concern, and writing one key never loses another.
// A file that is not a JSON object is moved aside (never deleted) before it is replaced.
class SettingsFile : public SettingsStore {
 public:
  explicit SettingsFile(std::string path) : path_(std::move(path)) {}

  std::optional<nlohmann::json> read(const std::string& key) const override;
  bool write(const std::string& key, const nlohmann::json& value) override;

  const std::string& path() const { return path_; }

 private:
  enum class State { Missing, Valid, Unreadable };
  State load(nlohmann::json& object) const;

  std::string path_;
};

}  // namespace brivok
