#include "app/StatusPage.h"

#include "core/Url.h"

namespace brivok {

std::string escapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string statusPageHtml(std::string_view title, std::string_view detail) {
  // The detail carries file paths and the system's error text, so both are escaped.
  std::string html;
  html +=
      "<html><body style=\"margin:0;height:100vh;display:grid;place-items:center;"
      "font:14px -apple-system;\n"
      "background:Canvas;color:CanvasText;color-scheme:light dark\">";
  html += "<div style=\"text-align:center;max-width:460px\">\n";
  html +=
      "<div style=\"width:56px;height:56px;margin:0 auto 14px;border-radius:14px;"
      "background:#3a55e0;color:#fff;\n"
      "display:grid;place-items:center;font-size:28px;font-weight:700\">B</div>\n";
  html += "<div style=\"font-size:18px;font-weight:600;margin-bottom:6px\">";
  html += escapeHtml(title);
  html += "</div>\n";
  html += "<div style=\"opacity:.65\">";
  html += escapeHtml(detail);
  html += "</div></div></body></html>";
  return html;
}

std::string secondarySiteProblemHtml(const std::string& url) {
  const auto parsed = Url::parse(url);
  const std::string host = parsed ? asciiLower(parsed->host) : std::string();
  if (host == "example" || host.ends_with(".example")) {
    return statusPageHtml("No secondary site is set up",
                          "This build of Brivok was not given a secondary site to show here.");
  }
  return statusPageHtml("The secondary site could not be reached",
                        "Check your connection. The site is tried again when the page asks "
                        "for it to be reloaded.");
}

}  // namespace brivok
