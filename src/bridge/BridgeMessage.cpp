#include "bridge/BridgeMessage.h"

#include "core/Json.h"
#include "core/Url.h"

namespace brivok {
namespace {

using nlohmann::json;

bool boolField(const json& body, const char* key) {
  const auto it = body.find(key);
  return it != body.end() && it->is_boolean() && it->get<bool>();
}

const auto stringField = stringMember;

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

std::optional<BridgeMessage> signIn(const json& body) {
  const auto* id = stringField(body, "id");
  const auto* url = stringField(body, "url");
  if (!id || !url) return std::nullopt;
  SignInRequest request;
  request.id = *id;
  request.url = *url;
  if (const auto* title = stringField(body, "title")) request.title = *title;
  request.domains = stringListMember(body, "domains");
  if (const auto* key = stringField(body, "key")) request.key = *key;
  return request;
}

}  // namespace

std::optional<BridgeMessage> parseBridgeMessage(std::string_view text) {
  const auto parsed = parseJsonObject(text, kMaxPageMessageBytes);
  if (!parsed || parsed->empty()) return std::nullopt;
  const json& body = *parsed;
  const std::string* action = stringField(body, "action");
  if (!action) return std::nullopt;

  if (*action == "tarvel") {
    return TarvelRequest{boolField(body, "visible"), numberArray(body, "rect"),
                         boolField(body, "reload")};
  }
  if (*action == "signin") return signIn(body);
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
    // Only the web reaches the desktop's handler: "file:", "smb:" and the like never do, nor
    // an address without a host ("https:///etc/passwd"), which a handler may read as a path.
    if (!url || webScheme(url->scheme) != WebScheme::Https || url->host.empty()) {
      return std::nullopt;
    }
    return OpenExternalRequest{url->text};
  }
  return std::nullopt;
}

void dispatchBridgeMessage(std::string_view json, const std::string& document,
                           BridgeHandler& handler) {
  const auto message = parseBridgeMessage(json);
  if (!message) return;
  std::visit(
      [&handler, &document](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, TarvelRequest>) {
          handler.showTarvel(m.visible, m.rect, m.reload);
        } else if constexpr (std::is_same_v<T, SignInRequest>) {
          handler.openSignIn(m, document);
        } else if constexpr (std::is_same_v<T, PickPathsRequest>) {
          handler.pickPaths(document);
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
