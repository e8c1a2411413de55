#pragma once

#include <string>
#include <vector>

#include "platform/UrlOpener.h"

namespace brivok::testing {

// Notes what it is asked to open; a test answers the callers itself.
class RecordingOpener : public UrlOpener {
 public:
  void open(const std::string& url, Done done = nullptr) override {
    opened.push_back(url);
    if (done) answers.push_back(std::move(done));
  }
  std::vector<Done> answers;
  std::vector<std::string> opened;
};

}  // namespace brivok::testing
