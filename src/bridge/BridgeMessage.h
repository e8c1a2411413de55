#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace brivok {

struct TarvelRequest {
  bool visible = false;
  std::vector<double> rect;  // x, y, width, height in CSS pixels; empty when malformed
  bool reload = false;
};
struct SignInRequest {
  nlohmann::json body;  // the whole message, read by the sign-in opener
};
struct PickPathsRequest {};
struct ForgetSignInRequest {
  std::string key;
};
struct SetPrefRequest {
  std::string key;
  std::string value;
};
struct OpenExternalRequest {
  std::string url;  // already checked: a URL whose scheme is exactly "https"
};

using BridgeMessage = std::variant<TarvelRequest, SignInRequest, PickPathsRequest,
                                   ForgetSignInRequest, SetPrefRequest, OpenExternalRequest>;

// Reads one message of the "brivok" channel, given as JSON text. Anything malformed
// gives nothing: the message is dropped without a word.
std::optional<BridgeMessage> parseBridgeMessage(std::string_view json);

// What the page may ask of the shell.
class BridgeHandler {
 public:
  virtual ~BridgeHandler() = default;
  virtual void showTarvel(bool visible, const std::vector<double>& cssRect, bool reload) = 0;
  virtual void openSignIn(const nlohmann::json& body) = 0;
  virtual void pickPaths() = 0;
  virtual void forgetSignIn(const std::string& key) = 0;
  virtual void setPref(const std::string& key, const std::string& value) = 0;
  virtual void openExternal(const std::string& url) = 0;
};

void dispatchBridgeMessage(std::string_view json, BridgeHandler& handler);

}  // namespace brivok
