#pragma once

namespace brivok {

// A rectangle on the desktop, in its pixels: top-left origin, y grows downwards.
struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
};

}  // namespace brivok
