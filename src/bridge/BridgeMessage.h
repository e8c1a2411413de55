#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace brivok {

struct TarvelRequest {
  bool visible = false;
  std::vector<double> rect;  // x, y, width, height in CSS pixels; empty when malformed
  bool reload = false;
  bool operator==(const TarvelRequest&) const = default;
};
struct SignInRequest {
  std::string id;
  std::string url;  // not yet checked: the sign-in opener decides which addresses it takes
  std::string title = "Sign in";
  std::vector<std::string> domains;  // empty when the list held anything but strings
  std::string key;
  bool operator==(const SignInRequest&) const = default;
};
struct PickPathsRequest {
  bool operator==(const PickPathsRequest&) const = default;
};
struct ForgetSignInRequest {
  std::string key;
  bool operator==(const ForgetSignInRequest&) const = default;
};
struct SetPrefRequest {
  std::string key;
  std::string value;
  bool operator==(const SetPrefRequest&) const = default;
};
struct OpenExternalRequest {
  std::string url;  // already checked: an https URL with a host
  bool operator==(const OpenExternalRequest&) const = default;
};

using BridgeMessage = std::variant<TarvelRequest, SignInRequest, PickPathsRequest,
                                   ForgetSignInRequest, SetPrefRequest, OpenExternalRequest>;

// The longest message the page may post; anything longer is dropped unread.
inline constexpr std::size_t kMaxPageMessageBytes = 1024 * 1024;

// Reads one message of the "brivok" channel, given as JSON text. Anything malformed
// gives nothing: the message is dropped without a word.
std::optional<BridgeMessage> parseBridgeMessage(std::string_view json);

// What the page may ask of the shell. `document` names the page's document that asked, the
// only one its answer may reach.
class BridgeHandler {
 public:
  virtual ~BridgeHandler() = default;
  virtual void showTarvel(bool visible, const std::vector<double>& cssRect, bool reload) = 0;
  virtual void openSignIn(const SignInRequest& request, const std::string& document) = 0;
  virtual void pickPaths(const std::string& document) = 0;
  virtual void forgetSignIn(const std::string& key) = 0;
  virtual void setPref(const std::string& key, const std::string& value) = 0;
  virtual void openExternal(const std::string& url) = 0;
};

void dispatchBridgeMessage(std::string_view json, const std::string& document,
                           BridgeHandler& handler);

}  // namespace brivok
