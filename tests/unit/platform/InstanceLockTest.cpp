// The machine-wide lock when the run ends on another thread than the one that took it (the
// handler of a closed console, a signal's watcher): no release the system refuses, and the next
// start has the lock at once, also where the ended owner left it abandoned (Windows).
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

#include "platform/Files.h"
#include "platform/InstanceLock.h"
#include "platform/NamedMutex.h"
#include "platform/ProcessId.h"

namespace plat {
namespace {

std::string UniqueGuid(const char* what) {
  return std::string("BRUMEL-TEST-") + what + "-" + std::to_string(CurrentProcessId());
}

// The lock file a lock leaves where names are files (Linux).
void Tidy(const std::string& guid) {
  const std::string file = NamedMutexFile("Global\\" + guid);
  if (!file.empty()) RemoveFile(file);
}

// Whether a lock of that name can be taken at once, asked from a thread of its own (a thread
// that owns a Windows mutex would simply take it once more).
bool FreeForAnother(const std::string& guid) {
  return std::async(std::launch::async,
                    [&] {
                      InstanceLock other(guid);
                      const bool taken = other.Acquire(0);
                      if (taken) {
                        EXPECT_TRUE(other.Release());
                      }
                      return taken;
                    })
      .get();
}

TEST(InstanceLock, TheEndOnAnotherThreadLeavesTheLockFreeForTheNextStart) {
  const std::string guid = UniqueGuid("end-elsewhere");
  InstanceLock lock(guid);
  std::promise<void> taken, ended;
  std::thread owner([&] {
    // The run's main thread: it takes the lock, then goes on until the process ends.
    ASSERT_TRUE(lock.Acquire(1000));
    taken.set_value();
    ended.get_future().wait();
  });
  taken.get_future().wait();
  EXPECT_FALSE(FreeForAnother(guid)) << "held while its owner runs";
  // The end of the run, on the handler's thread.
  EXPECT_TRUE(lock.Release()) << "a release the system refused";
  EXPECT_FALSE(lock.Owned());
  ended.set_value();
  owner.join();
  // The owner is gone: the next start takes the lock, abandoned or not.
  EXPECT_TRUE(FreeForAnother(guid));
  Tidy(guid);
}

TEST(InstanceLock, TheOwnersOwnReleaseGivesTheLockBack) {
  const std::string guid = UniqueGuid("own-release");
  InstanceLock lock(guid);
  ASSERT_TRUE(lock.Acquire(1000));
  EXPECT_FALSE(FreeForAnother(guid));
  EXPECT_TRUE(lock.Release());
  EXPECT_TRUE(FreeForAnother(guid));
  Tidy(guid);
}

}  // namespace
}  // namespace plat
