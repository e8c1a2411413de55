#include "jobs/JobRecord.h"

#include "core/Json.h"
#include "core/Url.h"

namespace brivok {
namespace {

const auto text = stringMember;

}  // namespace

std::optional<JobRecord> parseJobRecord(const nlohmann::json& record) {
  if (!record.is_object() || record.empty()) return std::nullopt;
  const auto* id = text(record, "job");
  const auto* url = text(record, "url");
  if (!id || !url) return std::nullopt;
  const auto parsed = Url::parse(*url);
  if (!parsed || webScheme(parsed->scheme) == WebScheme::None) return std::nullopt;

  JobRecord job;
  job.id = *id;
  job.url = parsed->text;  // as browsers would request it
  if (const auto* key = text(record, "key")) job.key = *key;
  if (const auto* kind = text(record, "kind")) job.kind = *kind;
  if (const auto it = record.find("cookies"); it != record.end() && it->is_array()) {
    for (const auto& dictionary : *it) {
      if (!dictionary.is_object()) {
        job.cookies.clear();  // one that is not a dictionary: the list counts as missing
        break;
      }
      if (auto cookie = cookieFromDictionary(dictionary)) job.cookies.push_back(*cookie);
    }
  }
  if (const auto* username = text(record, "username")) job.username = *username;
  if (const auto* password = text(record, "password")) job.password = *password;
  if (const auto* pattern = text(record, "login_pattern")) job.loginPattern = *pattern;
  job.domains = stringListMember(record, "domains");
  return job;
}

nlohmann::json jobReport(const std::string& id, const std::optional<nlohmann::json>& result,
                         const std::string& error) {
  return {{"job", id},
          {"ok", result.has_value()},
          {"result", result ? *result : nlohmann::json::object()},
          {"error", error}};
}

nlohmann::json unknownJobReport(const std::string& id) {
  return {{"job", id}, {"ok", false}, {"error", "unknown job"}};
}

}  // namespace brivok
