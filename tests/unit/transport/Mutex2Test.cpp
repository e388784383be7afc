#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "transport/Mutex2.h"

namespace brumel {
namespace {

// Another thread that takes the mutex once and gives it back. Taken() tells whether it got
// through within a short while; the test joins it after freeing the mutex, so a failing check
// cannot leave it blocked on a destroyed mutex.
class Taker {
 public:
  explicit Taker(CMutex2& m)
      : t_([this, &m] {
          m.Lock();
          got_ = true;
          m.Unlock();
        }) {}
  bool Taken() {
    for (int i = 0; i < 200 && !got_; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return got_;
  }
  void Join() { t_.join(); }

 private:
  std::atomic<bool> got_{false};
  std::thread t_;
};

TEST(Mutex2Test, NestsPerThreadAndBlocksOthers) {
  CMutex2 m;
  m.Lock();
  m.Lock();
  EXPECT_EQ(m.Depth(), 2u);
  EXPECT_TRUE(m.HeldByCaller());
  m.Unlock();
  EXPECT_EQ(m.Depth(), 1u);

  std::atomic<bool> got{false};
  std::thread t([&] {
    m.Lock();
    got = true;
    m.Unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(got);  // still held once
  m.Unlock();
  t.join();
  EXPECT_TRUE(got);
  EXPECT_EQ(m.Depth(), 0u);
  EXPECT_FALSE(m.HeldByCaller());
}

TEST(Mutex2Test, UnlockByANonHolderChangesNothing) {
  CMutex2 m;
  m.Unlock();  // free: nothing to give up
  Taker first(m);
  EXPECT_TRUE(first.Taken());
  first.Join();
  m.Lock();
  std::thread t([&] { m.Unlock(); });
  t.join();
  EXPECT_EQ(m.Depth(), 1u);
  EXPECT_TRUE(m.HeldByCaller());
  m.Unlock();
}

TEST(Mutex2Test, ScopedLockAndReleaseAll) {
  CMutex2 m;
  {
    ScopedMutex lock(m);
    EXPECT_EQ(m.Depth(), 1u);
    {
      ScopedMutex inner(m);
      EXPECT_EQ(m.Depth(), 2u);
    }
    EXPECT_EQ(m.Depth(), 1u);
  }
  EXPECT_EQ(m.Depth(), 0u);

  // Release-all frees the mutex inside the scope whatever the depth, and restores it after.
  m.Lock();
  m.Lock();
  std::optional<Taker> other;
  {
    ScopedMutex unlocked(m, true);
    EXPECT_FALSE(m.HeldByCaller());
    other.emplace(m);
    EXPECT_TRUE(other->Taken());
  }
  EXPECT_TRUE(m.HeldByCaller());
  EXPECT_EQ(m.Depth(), 2u);
  m.Unlock();
  m.Unlock();
  other->Join();

  // From depth 0 it leaves the mutex free on both sides.
  {
    ScopedMutex unlocked(m, true);
    EXPECT_FALSE(m.HeldByCaller());
  }
  EXPECT_FALSE(m.HeldByCaller());
  Taker last(m);
  EXPECT_TRUE(last.Taken());
  last.Join();
}

}  // namespace
}  // namespace brumel
