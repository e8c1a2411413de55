#pragma once

#include "platform/UrlOpener.h"

namespace brivok {

// Opens addresses with the desktop's default handler (the user's browser for https).
class DesktopUrlOpener : public UrlOpener {
 public:
  void open(const std::string& url, Done done = nullptr) override;
};

}  // namespace brivok
