#pragma once

#include <memory>
#include <string_view>

namespace brivok {

// A login address pattern from the backend, matched case-insensitively with bounded work:
// no pattern, however it backtracks, can hold the main thread for long.
class LoginPattern {
 public:
  explicit LoginPattern(std::string_view pattern);
  ~LoginPattern();
  LoginPattern(const LoginPattern&) = delete;
  LoginPattern& operator=(const LoginPattern&) = delete;

  // False also when the pattern did not compile or the match ran out of its limits.
  bool matches(std::string_view text) const;
  bool valid() const { return code_ != nullptr; }

 private:
  struct Code;
  Code* code_ = nullptr;
};

}  // namespace brivok
