#include "platform/ErrorBox.h"

#include <cstdio>

namespace plat {

void ShowErrorBox(const char* caption, const char* text) {
  std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
  std::fflush(stderr);
}

}  // namespace plat
