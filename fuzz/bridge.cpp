// The page's messages on the "brivok" channel.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "bridge/BridgeMessage.h"

namespace {

struct Sink : brivok::BridgeHandler {
  void showTarvel(bool, const std::vector<double>& rect, bool) override {
    if (!rect.empty() && rect.size() != 4 && rect.size() > 1000000) __builtin_trap();
  }
  void openSignIn(const brivok::SignInRequest& r, const std::string&) override {
    if (r.id.empty() && r.url.empty() && r.title.empty()) return;
  }
  void pickPaths(const std::string&) override {}
  void forgetSignIn(const std::string&) override {}
  void setPref(const std::string&, const std::string&) override {}
  void openExternal(const std::string& url) override {
    if (url.rfind("https:", 0) != 0) __builtin_trap();  // only https ever reaches the desktop
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Sink sink;
  brivok::dispatchBridgeMessage(std::string_view(reinterpret_cast<const char*>(data), size), "",
                                sink);
  return 0;
}
