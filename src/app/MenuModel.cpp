#include "app/MenuModel.h"

#include <cctype>

namespace brivok {

std::vector<Menu> menuBar() {
  const MenuItem separator{};
  return {
      {"",
       {{"About Brivok", "about", ""},
        separator,
        {"Install Command-Line Tool…", "install-cli", ""},
        {"Open Brivok Folder", "open-home", ""},
        {"Show Backend Log", "open-log", ""},
        separator,
        {"Hide Brivok", "hide", "h"},
        {"Quit Brivok", "quit", "q"}}},
      {"Edit",
       {{"Undo", "undo", "z"},
        {"Redo", "redo", "Z"},
        separator,
        {"Cut", "cut", "x"},
        {"Copy", "copy", "c"},
        {"Paste", "paste", "v"},
        {"Select All", "select-all", "a"}}},
      {"View",
       {{"Reload", "reload", "r"},
        separator,
        {"Zoom In", "zoom-in", "+"},
        {"Zoom Out", "zoom-out", "-"},
        {"Actual Size", "zoom-reset", "0"},
        separator,
        {"Full Screen", "full-screen", "f"}}},
      {"Window", {{"Minimize", "minimize", "m"}, {"Close", "close", "w"}}},
  };
}

std::string accelerator(const std::string& key) {
  if (key.size() != 1) return key;
  const char c = key[0];
  if (c == '+') return "<Primary>plus";
  if (c == '-') return "<Primary>minus";
  if (std::isupper(static_cast<unsigned char>(c))) {
    return std::string("<Shift><Primary>") +
           static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return std::string("<Primary>") + c;
}

}  // namespace brivok
