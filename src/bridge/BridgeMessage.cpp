#include "bridge/BridgeMessage.h"

#include "core/Url.h"

namespace brivok {
namespace {

using nlohmann::json;

bool boolField(const json& body, const char* key) {
  const auto it = body.find(key);
  return it != body.end() && it->is_boolean() && it->get<bool>();
}

const std::string* stringField(const json& body, const char* key) {
  const auto it = body.find(key);
  return it != body.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
}

std::vector<double> numberArray(const json& body, const char* key) {
  const auto it = body.find(key);
  if (it == body.end() || !it->is_array()) return {};
  std::vector<double> out;
  for (const auto& element : *it) {
    if (!element.is_number()) return {};
    out.push_back(element.get<double>());
  }
  return out;
}

}  // namespace

std::optional<BridgeMessage> parseBridgeMessage(std::string_view text) {
  const json body = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!body.is_object() || body.empty()) return std::nullopt;
  const std::string* action = stringField(body, "action");
  if (!action) return std::nullopt;

  if (*action == "tarvel") {
    return TarvelRequest{boolField(body, "visible"), numberArray(body, "rect"),
                         boolField(body, "reload")};
  }
  if (*action == "signin") return SignInRequest{body};
  if (*action == "pickPaths") return PickPathsRequest{};
  if (*action == "forgetSignIn") {
    if (const auto* key = stringField(body, "key")) return ForgetSignInRequest{*key};
    return std::nullopt;
  }
  if (*action == "setPref") {
    const auto* key = stringField(body, "key");
    const auto* value = stringField(body, "value");
    if (key && value) return SetPrefRequest{*key, *value};
    return std::nullopt;
  }
  if (*action == "openExternal") {
    const auto* address = stringField(body, "url");
    if (!address) return std::nullopt;
    const auto url = Url::parse(*address);
    // Only the web reaches the desktop's handler: "file:", "smb:" and the like never do.
    if (!url || url->scheme != "https") return std::nullopt;
    return OpenExternalRequest{*address};
  }
  return std::nullopt;
}

void dispatchBridgeMessage(std::string_view json, BridgeHandler& handler) {
  const auto message = parseBridgeMessage(json);
  if (!message) return;
  std::visit(
      [&handler](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, TarvelRequest>) {
          handler.showTarvel(m.visible, m.rect, m.reload);
        } else if constexpr (std::is_same_v<T, SignInRequest>) {
          handler.openSignIn(m.body);
        } else if constexpr (std::is_same_v<T, PickPathsRequest>) {
          handler.pickPaths();
        } else if constexpr (std::is_same_v<T, ForgetSignInRequest>) {
          handler.forgetSignIn(m.key);
        } else if constexpr (std::is_same_v<T, SetPrefRequest>) {
          handler.setPref(m.key, m.value);
        } else {
          handler.openExternal(m.url);
        }
      },
      *message);
}

}  // namespace brivok
