#include "platform/SharedMemory.h"

#include <windows.h>

namespace plat {

void ReleaseSharedMemoryAtEnd() {}

SharedMemory::~SharedMemory() { Close(); }

bool SharedMemory::Open(const std::string& name, size_t size, bool* created) {
  if (created) *created = false;
  Close();
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                static_cast<DWORD>(size), name.c_str());
  if (!h) return false;
  if (created) *created = GetLastError() != ERROR_ALREADY_EXISTS;
  handle_ = h;
  size_ = size;
  return true;
}

bool SharedMemory::IsOpen() const { return handle_ != nullptr; }

void* SharedMemory::Map() {
  if (!handle_) return nullptr;
  if (!view_)
    view_ = MapViewOfFile(static_cast<HANDLE>(handle_), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
  return view_;
}

void SharedMemory::Flush() {
  if (view_) FlushViewOfFile(view_, size_);
}

void SharedMemory::Unmap() {
  if (view_) UnmapViewOfFile(view_);
  view_ = nullptr;
}

void SharedMemory::Close() {
  Unmap();
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  size_ = 0;
}

}  // namespace plat
