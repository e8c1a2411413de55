#pragma once

#include <string>
#include <vector>

#include "platform/PageLoader.h"

namespace brivok {

// A message the page in the main frame posted on the "brivok" channel, and where from.
struct PageMessage {
  std::string json;      // the message body, as JSON text
  std::string origin;    // the posting document's origin, as its `location.origin` says
  std::string document;  // names that document alone, for the answers meant for it
};

// The main window's web view, as the application logic drives it.
class MainWebView : public PageLoader {
 public:
  // Loads a document from text with no base address (it shows as an about: page).
  virtual void loadHtml(const std::string& html) = 0;
  // The origins of the backend's page. Only their documents get the page script and the
  // "brivok" channel; other origins' frames may not take the view elsewhere unasked.
  virtual void setHomeOrigins(const std::vector<std::string>& origins) = 0;
  // Replaces the page script run at document start in the main frame of every later load of
  // a home origin.
  virtual void setPageScript(const std::string& source) = 0;
  // Loads the current page again.
  virtual void reload() = 0;
  // Calls the page-defined global `callback` with the JSON value `json`, as
  // "window.<callback> && window.<callback>(<json>)" would, in `document` only: once that
  // document is gone, nothing is called. Its result and errors are ignored.
  virtual void callPage(const std::string& document, const std::string& callback,
                        const std::string& json) = 0;
};

}  // namespace brivok
