#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/WebsiteStore.h"

namespace brivok {

// A web page the logic drives: in a sign-in window, or never shown at all.
class WebPage {
 public:
  // What the page reports about its main frame's loads. Held weakly by the page.
  class Events {
   public:
    virtual ~Events() = default;
    virtual void loadCommitted(const std::string& /*url*/) {}
    virtual void loadFinished() {}
    // `cancelled`: stopped or replaced by another load, which is no failure of the page.
    virtual void loadFailed(bool /*cancelled*/) {}
    // The page's web process went away (a crash, a kill, its memory limit): the page shows
    // nothing and answers no script until it loads again.
    virtual void pageStopped() {}
  };

  // A script's value: a string, a number or a boolean as such; anything else, an error, or a
  // page that never answers gives nothing (the last only once the page is closed).
  using ScriptDone = std::function<void(std::optional<nlohmann::json>)>;

  virtual ~WebPage() = default;
  virtual void setEvents(std::weak_ptr<Events> events) = 0;
  // Loads `url`; a load still running after the page-load limit fails.
  virtual void load(const std::string& url) = 0;
  // Runs `script` in the main frame, in a script world of the shell's own: it sees the page's
  // document but none of the page's own scripts. `done` (may be empty) runs later, on the
  // main thread.
  virtual void evaluate(const std::string& script, ScriptDone done) = 0;
  virtual std::string url() const = 0;
  virtual std::string title() const = 0;
  virtual bool isLoading() const = 0;
  virtual WebsiteStore& store() = 0;
  // Ends the page for good: its loads and scripts stop and its web process is let go, even
  // when a script of the page never yields.
  virtual void close() = 0;
};

}  // namespace brivok
