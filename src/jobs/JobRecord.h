#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/Cookie.h"

namespace brivok {

// A native job as the backend hands it over, read once into what its kind needs.
struct JobRecord {
  std::string id;
  std::string url;  // http or https
  std::string key;
  std::optional<std::string> kind;  // nothing when missing or not a string
  std::vector<Cookie> cookies;      // "render": the handed cookies a store can hold
  std::string username;             // "signin"
  std::string password;
  std::string loginPattern = "login";
  std::vector<std::string> domains;
};

// The record, or nothing when the job is dropped without a word: no string "job", no string
// "url", a URL that does not parse, or a scheme other than exactly "http" or "https". The
// other keys take their defaults when missing or mistyped; a cookie dictionary no store could
// hold is left out.
std::optional<JobRecord> parseJobRecord(const nlohmann::json& record);

// The report of a job that ran: ok exactly when there is a result.
nlohmann::json jobReport(const std::string& id, const std::optional<nlohmann::json>& result,
                         const std::string& error);
// The report of a job whose kind is not known.
nlohmann::json unknownJobReport(const std::string& id);

}  // namespace brivok
