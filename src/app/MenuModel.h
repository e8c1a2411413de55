#pragma once

#include <string>
#include <vector>

namespace brivok {

// The menu bar, as data: the toolkit side builds it once at start-up. An item without a
// title is a separator; an empty key has no shortcut. Keys are as the design writes them
// (Command plus the letter; a capital letter adds Shift).
struct MenuItem {
  std::string title;
  std::string action;  // the application action it triggers
  std::string key;
};
struct Menu {
  std::string title;  // empty: the application menu
  std::vector<MenuItem> items;
};

std::vector<Menu> menuBar();

// The toolkit accelerator for a key: Command is Ctrl ("<Primary>"), a capital adds Shift.
std::string accelerator(const std::string& key);

}  // namespace brivok
