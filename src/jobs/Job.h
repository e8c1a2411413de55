#pragma once

#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace brivok {

// A running native job: a page being read off screen, or a sign-in done by itself. The job
// loop holds it until it reports, once, through the callback it was started with; everything
// inside it holds it weakly, so letting it go ends it.
class Job {
 public:
  virtual ~Job() = default;
  virtual bool finished() const = 0;
};

// What a job that ends without a result says, besides its kind's own texts.
inline constexpr const char* kPageNotLoadedError = "the page didn't load";
inline constexpr const char* kPageStoppedError = "the page stopped unexpectedly";

// A job's outcome: the result (or nothing) and the error text (empty on success).
using JobDone = std::function<void(const std::optional<nlohmann::json>&, const std::string&)>;

}  // namespace brivok
