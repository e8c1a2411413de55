// The backend's reply to a poll, and the job record in it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/Cookie.h"
#include "core/Url.h"
#include "jobs/BackendClient.h"
#include "jobs/JobRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const auto reply = brivok::BackendClient::readReply({200, body});
  if (!reply) return 0;
  const auto it = reply->find("job");
  if (it == reply->end()) return 0;
  const auto job = brivok::parseJobRecord(*it);
  if (!job) return 0;
  const auto url = brivok::Url::parse(job->url);
  if (!url || (url->scheme != "http" && url->scheme != "https")) __builtin_trap();
  // Every cookie kept is one a store can hold, and reads back as itself.
  for (const auto& cookie : job->cookies) {
    if (cookie.domain.empty() || !brivok::cookieFromDictionary(brivok::cookieDictionary(cookie)))
      __builtin_trap();
  }
  // A report always goes out as text.
  brivok::jobReport(job->id, *it, job->loginPattern)
      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return 0;
}
