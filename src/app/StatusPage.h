#pragma once

#include <string>
#include <string_view>

namespace brivok {

// The built-in page shown while the backend starts and after it has stopped.
std::string statusPageHtml(std::string_view title, std::string_view detail);
std::string escapeHtml(std::string_view text);

// What the secondary site's view shows when its address does not load: a build that was never
// given a site (its address is a reserved .example placeholder) says so; otherwise the site
// could not be reached.
std::string secondarySiteProblemHtml(const std::string& url);

}  // namespace brivok
