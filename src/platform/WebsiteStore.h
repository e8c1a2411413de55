#pragma once

#include <functional>
#include <vector>

#include "core/Cookie.h"

namespace brivok {

// The website data (cookies, storage, caches) that the pages of one sign-in key share.
class WebsiteStore {
 public:
  virtual ~WebsiteStore() = default;
  // Every cookie of the store, later, on the main thread.
  virtual void readCookies(std::function<void(std::vector<Cookie>)> done) = 0;
  // `done` runs once the cookie is in place, so a load issued after it sends it.
  virtual void addCookie(const Cookie& cookie, std::function<void()> done) = 0;
  // Erases everything the store holds, also under pages that use it.
  virtual void clear() = 0;
};

}  // namespace brivok
