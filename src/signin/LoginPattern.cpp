#include "signin/LoginPattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace brivok {
namespace {

constexpr std::size_t kMaxPatternBytes = 4096;
constexpr std::size_t kMaxSubjectBytes = 64 * 1024;
constexpr uint32_t kMatchLimit = 200000;  // backtracking steps
constexpr uint32_t kDepthLimit = 1000;
constexpr uint32_t kHeapLimitKiB = 4096;

}  // namespace

struct LoginPattern::Code {
  pcre2_code* code = nullptr;
  pcre2_match_context* context = nullptr;
};

LoginPattern::LoginPattern(std::string_view pattern) {
  if (pattern.size() > kMaxPatternBytes) return;
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                    PCRE2_CASELESS | PCRE2_UTF | PCRE2_UCP, &error, &offset, nullptr);
  if (!code) return;
  code_ = new Code{code, pcre2_match_context_create(nullptr)};
  pcre2_set_match_limit(code_->context, kMatchLimit);
  pcre2_set_depth_limit(code_->context, kDepthLimit);
  pcre2_set_heap_limit(code_->context, kHeapLimitKiB);
}

LoginPattern::~LoginPattern() {
  if (!code_) return;
  pcre2_match_context_free(code_->context);
  pcre2_code_free(code_->code);
  delete code_;
}

bool LoginPattern::matches(std::string_view text) const {
  if (!code_ || text.size() > kMaxSubjectBytes) return false;
  pcre2_match_data* data = pcre2_match_data_create_from_pattern(code_->code, nullptr);
  if (!data) return false;
  // Text that is not UTF-8 is refused by the matcher itself: no match.
  const int rc = pcre2_match(code_->code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0,
                             0, data, code_->context);
  pcre2_match_data_free(data);
  return rc >= 0;
}

}  // namespace brivok
