// Files and paths of the running system.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace plat {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
// Windows file names are compared without regard to case.
inline constexpr bool kFileNamesCaseSensitive = false;
#else
inline constexpr char kPathSeparator = '/';
inline constexpr bool kFileNamesCaseSensitive = true;
#endif

// Full path of the running executable, as the system reports it (never from argv, never cut
// short); empty when the system cannot tell it.
std::string ExecutablePath();
// Folder of the running executable, ending with a separator; empty when the executable's path
// cannot be read. Callers must not fall back to the current folder.
std::string ExecutableDir();

// True when path names an existing file that is not a folder.
bool FileExists(const std::string& path);
// True when path names an existing folder. Windows: the first match of a directory search for
// path (so a name with wildcards is judged by its first match). Linux: the path itself.
bool IsFolder(const std::string& path);
// Removes a file; false when it could not be removed (a missing file included).
bool RemoveFile(const std::string& path);

// A regular file opened for reading. Nothing else opens: a folder, a FIFO, a device or a link to
// one is refused without being read, and opening never waits for a writer.
class RegularFile {
 public:
  enum class OpenResult { Opened, Missing, NotRegular, Failed };

  RegularFile() = default;
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  OpenResult Open(const std::string& path);
  bool IsOpen() const;
  // The file's length when it was opened.
  uint64_t Size() const { return size_; }
  // Reads up to length bytes; the count read, 0 at the end of the file or on an error.
  size_t Read(void* buffer, size_t length);
  void Close();

 private:
  uint64_t size_ = 0;
#ifdef _WIN32
  void* handle_ = reinterpret_cast<void*>(static_cast<intptr_t>(-1));
#else
  int fd_ = -1;
#endif
};

enum class FileRead { Ok, Missing, NotRegular, TooLarge, Failed };
// Reads the whole of a regular file of at most maxBytes into out (emptied first). Anything but
// Ok leaves out empty.
FileRead ReadRegularFile(const std::string& path, uint64_t maxBytes, std::string& out);

// Replaces the file at path with bytes in one step: they are written to a new temporary file
// with a unique name in the same folder (created exclusively, so never through a link or over
// another file), which is then moved over path. A link at path is replaced, its target is not
// touched. On failure only that temporary file is removed and path is left as it was.
// Windows: the move is retried briefly while another program holds path (see RetryWhileBusy).
bool WriteFileReplacing(const std::string& path, const std::string& bytes);

// One try of an operation that another program can hold up for a moment.
enum class Attempt { Done, Busy, Failed };
inline constexpr int kBusyRetries = 5;
inline constexpr unsigned kBusyRetryMs = 50;
// Runs attempt until it is Done (true) or Failed (false); after a Busy one it waits kBusyRetryMs
// through sleep and tries again, kBusyRetries times at most.
bool RetryWhileBusy(const std::function<Attempt()>& attempt,
                    const std::function<void(unsigned)>& sleep);

}  // namespace plat
