#include "core/Json.h"

namespace brivok {
namespace {

// More than `limit` exactly when arrays and objects nest deeper than `limit` somewhere in the
// text; brackets inside strings do not count. For text that is not JSON the answer does not matter:
// the parser refuses it anyway.
std::size_t nesting(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        if (++depth > limit) return depth;
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;
        break;
      default:
        break;
    }
  }
  return depth;
}

}  // namespace

std::optional<nlohmann::json> parseJson(std::string_view text, std::size_t maxBytes,
                                        std::size_t maxDepth) {
  if (text.size() > maxBytes) return std::nullopt;
  if (nesting(text, maxDepth) > maxDepth) return std::nullopt;
  auto value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

const std::string* stringMember(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
}

std::vector<std::string> stringListMember(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_array()) return {};
  std::vector<std::string> out;
  for (const auto& element : *it) {
    if (!element.is_string()) return {};
    out.push_back(element.get<std::string>());
  }
  return out;
}

std::optional<nlohmann::json> parseJsonObject(std::string_view text, std::size_t maxBytes) {
  auto value = parseJson(text, maxBytes);
  if (!value || !value->is_object()) return std::nullopt;
  return value;
}

}  // namespace brivok
