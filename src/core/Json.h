#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace brivok {

// Every JSON text that comes from outside the process (the page, the backend, the settings
// file) is read here. Copying, comparing or writing a value recurses once per level of
// nesting, so a deeply nested text would overflow the stack long after it was parsed; such
// texts, and texts beyond `maxBytes`, are malformed input like any other.
inline constexpr std::size_t kMaxJsonDepth = 64;

// The value, or nothing when the text is not JSON, is longer than `maxBytes`, or nests arrays
// and objects deeper than `maxDepth`.
std::optional<nlohmann::json> parseJson(std::string_view text, std::size_t maxBytes,
                                        std::size_t maxDepth = kMaxJsonDepth);

// The same, for texts that must hold an object.
std::optional<nlohmann::json> parseJsonObject(std::string_view text, std::size_t maxBytes);

// The member `key` of an object when it is a string; null when missing or of another type.
const std::string* stringMember(const nlohmann::json& object, const char* key);
// The member `key` when it is an array of strings only; empty otherwise (an array holding
// anything but strings counts as missing).
std::vector<std::string> stringListMember(const nlohmann::json& object, const char* key);

}  // namespace brivok
