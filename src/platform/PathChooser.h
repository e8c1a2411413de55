#pragma once

#include <functional>
#include <string>
#include <vector>

namespace brivok {

// The chooser of the folders and files the user lets the agents use.
class PathChooser {
 public:
  // The chosen absolute paths in the order chosen; empty when the user cancelled.
  using Done = std::function<void(std::vector<std::string> paths)>;

  virtual ~PathChooser() = default;
  // Shows the chooser on the main window and returns at once; `done` runs once, later.
  virtual void choose(Done done) = 0;
  // Brings the open chooser to the front.
  virtual void present() = 0;
};

}  // namespace brivok
