#include "gtk/Application.h"

int main() {
  brivok::Application application(brivok::Paths::current());
  return application.run();
}
