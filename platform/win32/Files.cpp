#include "platform/Files.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/ProcessId.h"
#include "platform/Time.h"
#include "platform/win32/WideText.h"

namespace plat {

namespace {

// Longest path the system handles (in characters, terminator included).
constexpr DWORD kLongestPath = 32768;

HANDLE H(void* h) { return static_cast<HANDLE>(h); }

}  // namespace

// The module file name has no fixed limit: a path longer than MAX_PATH is asked for again with
// a larger buffer rather than cut. Asked for in UTF-16, so any folder name comes through.
std::string ExecutablePath() {
  for (DWORD size = MAX_PATH + 1;; size = std::min(size * 2, kLongestPath)) {
    std::vector<wchar_t> buf(size);
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), size);
    if (n == 0) return {};
    if (n < size && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      std::string path;
      return ToUtf8(buf.data(), n, path) ? path : std::string();
    }
    if (size == kLongestPath) return {};
  }
}

std::string ExecutableDir() {
  const std::string path = ExecutablePath();
  const size_t slash = path.find_last_of("\\/");
  if (path.empty() || slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

bool FileExists(const std::string& path) {
  DWORD attr = GetFileAttributesW(Wide(path).c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::string& path) {
  const std::wstring name = Wide(path);
  if (name.empty()) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(name.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  FindClose(search);
  return folder;
}

bool RemoveFile(const std::string& path) {
  const std::wstring name = Wide(path);
  return !name.empty() && DeleteFileW(name.c_str()) != 0;
}

// ---- RegularFile ------------------------------------------------------------------------------

RegularFile::~RegularFile() { Close(); }

RegularFile::OpenResult RegularFile::Open(const std::string& path) {
  Close();
  const std::wstring name = Wide(path);
  if (name.empty()) return OpenResult::Missing;
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return OpenResult::Missing;
    // Without backup semantics a folder does not open: it is not a regular file.
    if (IsFolder(path)) return OpenResult::NotRegular;
    return OpenResult::Failed;
  }
  // Devices (CON, NUL, COM1) are character files and pipes are pipes: only disk files count.
  BY_HANDLE_FILE_INFORMATION info;
  LARGE_INTEGER size;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !GetFileSizeEx(h, &size) ||
      size.QuadPart < 0) {
    CloseHandle(h);
    return OpenResult::NotRegular;
  }
  handle_ = h;
  size_ = static_cast<uint64_t>(size.QuadPart);
  return OpenResult::Opened;
}

bool RegularFile::IsOpen() const { return H(handle_) != INVALID_HANDLE_VALUE; }

size_t RegularFile::Read(void* buffer, size_t length) {
  if (!IsOpen() || !buffer) return 0;
  const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
  DWORD n = 0;
  if (!ReadFile(H(handle_), buffer, chunk, &n, nullptr)) return 0;
  return n;
}

void RegularFile::Close() {
  if (IsOpen()) CloseHandle(H(handle_));
  handle_ = INVALID_HANDLE_VALUE;
  size_ = 0;
}

// ---- replacing a file -------------------------------------------------------------------------

namespace {

// Creates a new file next to path under a name nobody else has (create-new fails on anything
// that is there already). The handle, or INVALID_HANDLE_VALUE.
HANDLE CreateUniqueBeside(const std::wstring& path, std::wstring& tempPath) {
  static unsigned counter = 0;
  for (int tries = 0; tries < 100; ++tries) {
    wchar_t suffix[48];
    wsprintfW(suffix, L".%08lX%04X%04X", static_cast<unsigned long>(CurrentProcessId()),
              static_cast<unsigned>(++counter & 0xFFFF),
              static_cast<unsigned>(GetTickCount() & 0xFFFF));
    const std::wstring name = path + suffix;
    HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      tempPath = name;
      return h;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE h, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t left = bytes.size() - done;
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD n = 0;
    if (!WriteFile(h, bytes.data() + done, chunk, &n, nullptr) || n == 0) return false;
    done += n;
  }
  return true;
}

}  // namespace

bool WriteFileReplacing(const std::string& path, const std::string& bytes) {
  const std::wstring target = Wide(path);
  if (target.empty()) return false;
  std::wstring temp;
  HANDLE h = CreateUniqueBeside(target, temp);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = WriteAll(h, bytes) && FlushFileBuffers(h);
  ok = CloseHandle(h) && ok;
  // A virus scanner or the indexer may hold the file for a moment: that is worth a few tries.
  ok = ok && RetryWhileBusy(
                 [&] {
                   if (MoveFileExW(temp.c_str(), target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                     return Attempt::Done;
                   }
                   const DWORD error = GetLastError();
                   return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED
                              ? Attempt::Busy
                              : Attempt::Failed;
                 },
                 [](unsigned ms) { SleepMs(ms); });
  if (!ok) DeleteFileW(temp.c_str());
  return ok;
}

}  // namespace plat
