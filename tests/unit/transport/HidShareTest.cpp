#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "platform/NamedMutex.h"
#include "platform/Time.h"
#include "transport/HidIO.h"
#include "transport/HidShare.h"

using brumel::CHidIO;
using brumel::CHidShare;
using brumel::COneInstance2;
using brumel::ShareArea;

namespace {

// The base names handed out by UniqueBase in this process.
std::vector<std::string>& BasesUsed() {
  static std::vector<std::string> bases;
  return bases;
}

// The objects are machine-wide: every test uses its own base name. Where a name outlives its
// users (Linux keeps a lock file per mutex) it is removed when the tests of this process end.
std::string UniqueBase(const char* what) {
  static std::mt19937_64 rng{std::random_device{}()};
  std::string base = std::string("brumelTest_") + what + "_" + std::to_string(rng());
  BasesUsed().push_back(base);
  return base;
}

class RemoveTestLockFiles : public ::testing::Environment {
 public:
  void TearDown() override {
    for (const std::string& base : BasesUsed()) {
      COneInstance2 named;
      named.SetName(base);
      const std::string file = plat::NamedMutexFile(named.GetName());
      if (!file.empty()) plat::RemoveFile(file);
    }
  }
};
const ::testing::Environment* const kRemoveTestLockFiles =
    ::testing::AddGlobalTestEnvironment(new RemoveTestLockFiles);

template <typename Fn>
std::string ErrorText(Fn fn) {
  try {
    fn();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

TEST(HidShareName, EveryCharacterButLettersAndDigitsBecomesUnderscore) {
  struct Case {
    const char* path;
    const char* base;
  } const cases[] = {
      {"\\\\?\\hid#vid_0416&pid_a316#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
       "____hid_vid_0416_pid_a316_7_1a2b3c4d_0_0000__4d1e55b2_f16f_11cf_88cb_001111000030_"},
      {"/dev/hidraw3", "_dev_hidraw3"},
      {"1-1.4:1.0", "1_1_4_1_0"},
      {"AbC.xYz", "AbC_xYz"},
      {"ÄÖ", "____"},  // each byte of a non-ASCII letter
      {"", ""},
  };
  for (const Case& c : cases) {
    const std::string base = CHidIO::ShareBaseName(c.path);
    EXPECT_EQ(base, c.base) << c.path;
    EXPECT_EQ(base.size(), std::strlen(c.path)) << c.path;
  }
}

TEST(HidShareName, ObjectNamesFollowTheirFormatsAndAreCutAt255) {
  ShareArea<CHidShare> area;
  area.SetName("dev_1");
  EXPECT_STREQ(area.GetName(), "dev_1-12d3688b-44c0-412a-85dd-5ebcfea9f503");
  EXPECT_STREQ(area.GetMutex().GetName(), "dev_1-5004780a-b256-43f3-88f5-1c1a798e40b3");

  const std::string longBase(300, 'x');
  area.SetName(longBase);
  EXPECT_EQ(std::strlen(area.GetName()), 255u);
  EXPECT_EQ(std::string(area.GetName()), std::string(255, 'x'));
  area.SetName("short");  // a shorter name leaves nothing of the long one behind
  EXPECT_STREQ(area.GetName(), "short-12d3688b-44c0-412a-85dd-5ebcfea9f503");
}

TEST(HidShareArea, GetOutsideALockIsAnError) {
  ShareArea<CHidShare> area;
  area.SetName(UniqueBase("get"));
  EXPECT_EQ(ErrorText([&] { area.Get(); }), "share area not locked");

  area.Open();
  ASSERT_TRUE(area.IsOpen());
  EXPECT_EQ(ErrorText([&] { area.Get(); }), "share area not locked");
  CHidShare* locked = area.Lock();
  ASSERT_NE(locked, nullptr);
  EXPECT_EQ(area.Get(), locked);
  area.Unlock();
  EXPECT_EQ(ErrorText([&] { area.Get(); }), "share area not locked");
  EXPECT_EQ(area.GetMutex().GetLockCount(), 0u);
}

// Two objects stand for two processes selecting the same device.
TEST(HidShareArea, TwoUsersOfOneNameShareOneRecordAndTheSecondDoesNotZeroIt) {
  const std::string base = UniqueBase("two");
  {
    ShareArea<CHidShare> first;
    first.SetName(base);
    first.Open();
    CHidShare* a = first.Lock();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Value, 0u);  // new on the machine
    a->Value = 0x12345678;
    first.Unlock();

    ShareArea<CHidShare> second;
    second.SetName(base);
    second.Open();
    CHidShare* b = second.Lock();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Value, 0x12345678u);
    b->Value = 0xCAFE;
    second.Unlock();

    first.Lock();
    EXPECT_EQ(first.Get()->Value, 0xCAFEu);
    first.Unlock();

    // The record lives as long as one user keeps it open.
    first.Close();
    EXPECT_FALSE(first.IsOpen());
    first.Open();
    EXPECT_EQ(first.Lock()->Value, 0xCAFEu);
    first.Unlock();
  }
  // Once every user has closed it, the next one starts with a zeroed record.
  ShareArea<CHidShare> later;
  later.SetName(base);
  later.Open();
  ASSERT_NE(later.Lock(), nullptr);
  EXPECT_EQ(later.Get()->Value, 0u);
  later.Unlock();
}

// The same with a real second process (brumel_share_peer, beside this executable).
TEST(HidShareArea, ASecondProcessMeetsTheSameRecord) {
  const std::string base = UniqueBase("process");
  ShareArea<CHidShare> area;
  area.SetName(base);
  area.Open();
  ASSERT_NE(area.Lock(), nullptr);
  area.Get()->Value = 4660;
  area.Unlock();

  const std::string peer = plat::ExecutableDir() + "brumel_share_peer";
  ASSERT_TRUE(plat::FileExists(peer) || plat::FileExists(peer + ".exe")) << peer;
  const std::string command = "\"" + peer + "\" " + base + " 4660 22136";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  area.Lock();
  EXPECT_EQ(area.Get()->Value, 22136u);
  area.Unlock();
}

TEST(HidShareArea, CloseOfAnAreaNeverOpenedIsHarmless) {
  ShareArea<CHidShare> unnamed;
  unnamed.Close();
  EXPECT_EQ(unnamed.GetMutex().GetLockCount(), 0u);

  ShareArea<CHidShare> named;
  named.SetName(UniqueBase("never"));
  named.Close();
  named.Close();
  EXPECT_FALSE(named.IsOpen());
  EXPECT_EQ(named.Lock(), nullptr);  // nothing mapped, no mutex: nothing counted either
  EXPECT_EQ(named.GetMutex().GetLockCount(), 0u);
}

TEST(HidShareMutex, AWaitThatTimesOutCountsNothingAndItsReleaseReleasesNothing) {
  const std::string base = UniqueBase("timeout");
  COneInstance2 holder;
  holder.SetName(base);
  holder.TryAcquire(1000);
  ASSERT_TRUE(holder.IsLocked());

  // Windows mutexes belong to a thread: the other user waits on another one.
  uint32_t countAfterWait = 99;
  uint64_t waited = 0;
  bool releaseThrew = false;
  std::thread other([&] {
    COneInstance2 waiter;
    waiter.SetName(base);
    waiter.Open();
    ASSERT_TRUE(waiter.IsOpen());
    const uint64_t start = plat::MonotonicMs();
    waiter.Wait(200);
    waited = plat::MonotonicMs() - start;
    countAfterWait = waiter.GetLockCount();
    try {
      waiter.Release();
    } catch (const std::runtime_error&) {
      releaseThrew = true;
    }
    waiter.TryAcquire(0);  // still held by the first user
    countAfterWait += waiter.GetLockCount();
  });
  other.join();
  EXPECT_EQ(countAfterWait, 0u);
  EXPECT_GE(waited, 190u);
  EXPECT_LT(waited, 3000u);
  EXPECT_FALSE(releaseThrew);
  EXPECT_TRUE(holder.IsLocked());
  holder.ReleaseAndClose();
  EXPECT_FALSE(holder.IsLocked());
}

TEST(HidShareMutex, WithoutAMutexNothingIsCountedOrReleased) {
  COneInstance2 never;
  never.SetName(UniqueBase("none"));
  never.Wait(0);
  EXPECT_FALSE(never.IsLocked());
  EXPECT_NO_THROW(never.Release());
  EXPECT_NO_THROW(never.ReleaseAndClose());
}

TEST(HidShareMutex, ARefusedReleaseIsAnError) {
  COneInstance2 m;
  m.SetName(UniqueBase("refused"));
  m.Open();
  m.Wait(1000);
  ASSERT_EQ(m.GetLockCount(), 1u);
  m.Close();  // the counted wait now has no mutex to give back
  EXPECT_EQ(ErrorText([&] { m.Release(); }), "ReleaseMutex(m_hMutexOneInstance)");
  EXPECT_EQ(m.GetLockCount(), 0u);
}

// A user that ends while it holds the mutex leaves it abandoned (Windows). Whoever gets it next
// owns it; that wait counts, so its release frees the mutex for everyone else.
TEST(HidShareMutex, AMutexLeftByAUserThatEndedIsCountedAndFreedByItsRelease) {
  const std::string base = UniqueBase("abandoned");
  COneInstance2 next;
  next.SetName(base);
  next.Open();
  ASSERT_TRUE(next.IsOpen());

  std::thread dying([&] {
    plat::NamedMutex m;
    ASSERT_TRUE(m.Open(next.GetName()));
    ASSERT_NE(m.Wait(1000), plat::MutexWait::TimedOut);
    // Ends without releasing it.
  });
  dying.join();

  next.Wait(2000);
  ASSERT_EQ(next.GetLockCount(), 1u);
  next.ReleaseAndClose();
  EXPECT_EQ(next.GetLockCount(), 0u);

  bool gotIt = false;
  std::thread later([&] {
    COneInstance2 other;
    other.SetName(base);
    other.TryAcquire(500);
    gotIt = other.IsLocked();
  });
  later.join();
  EXPECT_TRUE(gotIt);
}

}  // namespace
