#pragma once

#include <string>

#include "platform/PageLoader.h"

namespace brivok {

// The secondary site's web view, floating over a region of the main view.
class TarvelView : public PageLoader {
 public:
  // Places the view in the main view's coordinates (origin top left), in CSS pixels.
  virtual void place(double x, double y, double width, double height) = 0;
  virtual void setHidden(bool hidden) = 0;
};

}  // namespace brivok
