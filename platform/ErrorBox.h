// A message the user must acknowledge.
#pragma once

namespace plat {

// Windows: a modal message box with the caption, an error icon and a single OK button; returns
// when it is closed (at once when there is no desktop to show it on). Linux: the text on stderr.
void ShowErrorBox(const char* caption, const char* text);

}  // namespace plat
