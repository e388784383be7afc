#include "platform/ErrorBox.h"

#include <windows.h>

namespace plat {

void ShowErrorBox(const char* caption, const char* text) {
  MessageBoxA(nullptr, text ? text : "", caption ? caption : "", MB_OK | MB_ICONERROR);
}

}  // namespace plat
