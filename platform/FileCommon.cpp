// The parts of platform/Files.h that are the same on every system.
#include <new>

#include "platform/Files.h"

namespace plat {

FileRead ReadRegularFile(const std::string& path, uint64_t maxBytes, std::string& out) {
  out.clear();
  RegularFile file;
  switch (file.Open(path)) {
    case RegularFile::OpenResult::Opened:
      break;
    case RegularFile::OpenResult::Missing:
      return FileRead::Missing;
    case RegularFile::OpenResult::NotRegular:
      return FileRead::NotRegular;
    case RegularFile::OpenResult::Failed:
      return FileRead::Failed;
  }
  if (file.Size() > maxBytes) return FileRead::TooLarge;
  try {
    out.resize(static_cast<size_t>(file.Size()));
  } catch (const std::bad_alloc&) {
    out.clear();
    return FileRead::Failed;
  }
  // The length taken at the open bounds the read, whatever happens to the file meanwhile.
  size_t got = 0;
  while (got < out.size()) {
    const size_t n = file.Read(out.data() + got, out.size() - got);
    if (n == 0) break;
    got += n;
  }
  out.resize(got);
  return FileRead::Ok;
}

bool RetryWhileBusy(const std::function<Attempt()>& attempt,
                    const std::function<void(unsigned)>& sleep) {
  for (int retries = 0;; ++retries) {
    switch (attempt()) {
      case Attempt::Done:
        return true;
      case Attempt::Failed:
        return false;
      case Attempt::Busy:
        break;
    }
    if (retries >= kBusyRetries) return false;
    sleep(kBusyRetryMs);
  }
}

}  // namespace plat
