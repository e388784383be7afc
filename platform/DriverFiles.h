// Placing a driver file in the system's folders.
//
// Windows: the system and Windows folders, files created with the Windows file API. Linux: the
// same operations on plain paths (regular files only, no link followed); it has no system
// folders for drivers, so those queries answer an empty text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// What a probe of an existing file found.
enum class FileProbe {
  Present,     // the file opened for reading
  Missing,     // no such file (or no such folder)
  Unreadable,  // it exists but could not be opened (in use, no access, not a regular file)
};

// How a write ended.
enum class FileWrite {
  NotOpened,   // the file could not be created or opened: nothing on disk was changed
  Incomplete,  // it was created or truncated, but not every byte reached it
  Written,     // all bytes were written and the file closed
};

class DriverFiles {
 public:
  virtual ~DriverFiles() = default;

  // The system folder ("C:\Windows\System32") and the system's Windows folder, without a
  // trailing separator; empty when unknown.
  virtual std::string SystemFolder() = 0;
  virtual std::string WindowsFolder() = 0;

  // Opens path for reading, existing file only, no sharing, and closes it again.
  virtual FileProbe Probe(const std::string& path) = 0;
  // Creates or truncates path (read and write access, shared read and write, normal
  // attributes), writes all size bytes in one write and closes it.
  virtual FileWrite Write(const std::string& path, const uint8_t* data, size_t size) = 0;
  // Deletes path; false when it could not be deleted.
  virtual bool Remove(const std::string& path) = 0;
};

// The running system's files.
DriverFiles& SystemDriverFiles();

}  // namespace plat
