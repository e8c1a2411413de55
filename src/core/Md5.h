#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace brivok {

// MD5 (RFC 1321). Only ever used to derive stable identifiers, never for security.
std::array<std::uint8_t, 16> md5(std::string_view bytes);

}  // namespace brivok
