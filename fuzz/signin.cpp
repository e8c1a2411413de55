// The automatic sign-in's outside input: the login pattern and the password from the backend,
// and the address of a page the shell does not control. The input is the pattern (also taken
// as the password), a line feed, then the address.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "signin/LoginPattern.h"
#include "signin/SignInData.h"

namespace {

// The address as a reader may take it: as it stands, percent-decoded, or decoded with "+" as
// a space.
std::string reading(std::string_view s, int how) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto hex = [&](std::size_t at) {
      return std::isxdigit(static_cast<unsigned char>(s[at]));
    };
    if (how > 0 && s[i] == '%' && i + 2 < s.size() && hex(i + 1) && hex(i + 2)) {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += how == 2 && s[i] == '+' ? ' ' : s[i];
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto cut = input.find('\n');
  if (cut == std::string_view::npos) return 0;
  const auto secret = input.substr(0, cut);
  const auto address = input.substr(cut + 1);
  brivok::LoginPattern(secret).matches(address);
  const std::string masked = brivok::signin::withoutSecret(address, secret);
  // A password made of the mask's own stars may be spelled by the mask; any other never
  // survives the masking, in any reading.
  if (secret.empty() || secret.find('*') != std::string_view::npos) return 0;
  for (int how = 0; how < 3; ++how) {
    if (reading(masked, how).find(secret) != std::string::npos) __builtin_trap();
  }
  return 0;
}
