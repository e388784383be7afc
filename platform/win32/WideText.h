// The seam between the tool's text, kept as UTF-8, and the system's wide (UTF-16) calls. Every
// path and name the tool hands to Windows goes through the wide functions, so no folder name
// depends on the ANSI code page (which cannot hold most names, and whose best-fit mapping can
// even turn one name into that of another folder).
#pragma once
#include <windows.h>

#include <string>

namespace plat {

// UTF-16 of UTF-8 text. Text that is not valid UTF-8 gives false (and nothing): a name that
// cannot be told exactly is not guessed at.
inline bool ToWide(const std::string& text, std::wstring& out) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > 0x7FFFFFFF) return false;
  const int length = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, out.data(), n) != n) {
    out.clear();
    return false;
  }
  return true;
}

// The UTF-16 text, or an empty one when the UTF-8 text is not valid (see ToWide). Callers pass
// the result to the system, which then finds no file of that name.
inline std::wstring Wide(const std::string& text) {
  std::wstring out;
  ToWide(text, out);
  return out;
}

// UTF-8 of UTF-16 text. A lone surrogate (a name no UTF-8 text can name) gives false; before
// Windows Vista, which cannot check for one, it becomes U+FFFD.
inline bool ToUtf8(const wchar_t* text, size_t length, std::string& out) {
  out.clear();
  if (length == 0) return true;
  if (!text || length > 0x7FFFFFFF) return false;
  const int units = static_cast<int>(length);
  DWORD flags = WC_ERR_INVALID_CHARS;
  int n = WideCharToMultiByte(CP_UTF8, flags, text, units, nullptr, 0, nullptr, nullptr);
  if (n <= 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;
    n = WideCharToMultiByte(CP_UTF8, flags, text, units, nullptr, 0, nullptr, nullptr);
  }
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  if (WideCharToMultiByte(CP_UTF8, flags, text, units, out.data(), n, nullptr, nullptr) != n) {
    out.clear();
    return false;
  }
  return true;
}

inline bool ToUtf8(const std::wstring& text, std::string& out) {
  return ToUtf8(text.data(), text.size(), out);
}

}  // namespace plat
