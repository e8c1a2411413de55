#pragma once

#include <string>
#include <string_view>

namespace brivok {

// The built-in page shown while the backend starts and after it has stopped.
std::string statusPageHtml(std::string_view title, std::string_view detail);
std::string escapeHtml(std::string_view text);

}  // namespace brivok
