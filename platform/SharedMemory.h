// A small named memory area shared by every process that opens the same name (Windows: within
// the session, unless the name carries a namespace prefix).
//
// Windows: a file mapping backed by the paging file; it disappears with its last handle.
// Linux: a POSIX shared-memory object "/<name>". Each user holds a shared flock on it, so the
// last user to close it removes the name, and an opener that finds no other user treats the
// area as new: the same lifetime as on Windows, also after a process died holding it.
// Open and Close are meant to run under a named mutex that guards the area.
#pragma once
#include <cstddef>
#include <string>

namespace plat {

// The process is about to end without closing its areas (the run was ended from outside): every
// area it still holds and nobody else uses goes now, as at its last Close. Safe to call from
// another thread while areas are opened and closed; it does not take the areas' guarding
// mutexes (the process may hold them), so a process that opens the same name at that very
// moment may get an area of its own. Windows: nothing to do, the system drops a mapping with
// the last process that holds it.
void ReleaseSharedMemoryAtEnd();

class SharedMemory {
 public:
  SharedMemory() = default;
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // Creates the area of size bytes, or opens it when it exists. created (may be null) tells
  // whether the area is new: made by this call, or found without any other user.
  bool Open(const std::string& name, size_t size, bool* created);
  bool IsOpen() const;
  // Maps the whole area for reading and writing; null when that fails or the area is not open.
  void* Map();
  void* View() const { return view_; }
  // Writes the mapped bytes back.
  void Flush();
  void Unmap();
  // Unmaps and closes.
  void Close();

 private:
  void* view_ = nullptr;
  size_t size_ = 0;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
  std::string name_;
#endif
};

}  // namespace plat
