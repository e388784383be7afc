// Files the tool reads and replaces, on every system.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "platform/Files.h"

namespace {

using brumel::test::TempFolder;

std::set<std::string> Names(const TempFolder& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.Folder()))
    names.insert(e.path().filename().string());
  return names;
}

TEST(ReplacingAFile, NewAndExistingFilesAreReplacedWholeWithNothingLeftBeside) {
  TempFolder dir;
  const std::string path = dir.File("t.ini");
  ASSERT_TRUE(plat::WriteFileReplacing(path, "first"));
  EXPECT_EQ(TempFolder::Read(path), "first");
  ASSERT_TRUE(plat::WriteFileReplacing(path, std::string(100000, 'x')));
  EXPECT_EQ(TempFolder::Read(path), std::string(100000, 'x'));
  ASSERT_TRUE(plat::WriteFileReplacing(path, ""));
  EXPECT_EQ(TempFolder::Read(path), "");
  EXPECT_EQ(Names(dir), std::set<std::string>{"t.ini"});
}

TEST(ReadingARegularFile, ContentsMissingFoldersAndTheSizeBound) {
  TempFolder dir;
  const std::string path = dir.File("f.bin");
  TempFolder::Write(path, std::string("a\0b", 3));
  std::string out = "old";
  EXPECT_EQ(plat::ReadRegularFile(path, 3, out), plat::FileRead::Ok);
  EXPECT_EQ(out, std::string("a\0b", 3));
  EXPECT_EQ(plat::ReadRegularFile(path, 2, out), plat::FileRead::TooLarge);
  EXPECT_EQ(out, "");
  EXPECT_EQ(plat::ReadRegularFile(dir.File("nosuch"), 10, out), plat::FileRead::Missing);
  EXPECT_EQ(plat::ReadRegularFile(dir.File("nosuch") + "/f", 10, out), plat::FileRead::Missing);
  EXPECT_EQ(plat::ReadRegularFile(dir.Folder(), 10, out), plat::FileRead::NotRegular);
}

// A replacement held up by another program (a virus scanner, the indexer) is tried again five
// times, 50 ms apart; anything else ends at once.
TEST(RetryWhileBusy, BusyIsTriedFiveTimesMoreAndFailedNotAgain) {
  struct Case {
    std::vector<plat::Attempt> answers;
    bool done;
    size_t tries;
  };
  using A = plat::Attempt;
  const Case cases[] = {
      {{A::Done}, true, 1},
      {{A::Failed}, false, 1},
      {{A::Busy, A::Busy, A::Done}, true, 3},
      {{A::Busy, A::Failed}, false, 2},
      {{A::Busy, A::Busy, A::Busy, A::Busy, A::Busy, A::Done}, true, 6},
      {{A::Busy, A::Busy, A::Busy, A::Busy, A::Busy, A::Busy, A::Done}, false, 6},
  };
  for (const Case& c : cases) {
    size_t tries = 0;
    std::vector<unsigned> sleeps;
    const bool done = plat::RetryWhileBusy([&] { return c.answers.at(tries++); },
                                           [&](unsigned ms) { sleeps.push_back(ms); });
    EXPECT_EQ(done, c.done) << "case with " << c.answers.size() << " answers";
    EXPECT_EQ(tries, c.tries);
    EXPECT_EQ(sleeps, std::vector<unsigned>(c.tries - 1, 50u));
  }
}

}  // namespace
