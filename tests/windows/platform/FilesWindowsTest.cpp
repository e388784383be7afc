// The Windows side of the file functions.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <thread>

#include "common/TestSupport.h"
#include "platform/Files.h"

namespace {

using brumel::test::TempFolder;

// The first match of a directory search decides, so a name with wildcards is judged by the
// entry it finds.
TEST(FilesWindows, IsFolderJudgesTheFirstMatchOfADirectorySearch) {
  TempFolder dir;
  std::filesystem::create_directories(dir.File("subdir"));
  TempFolder::Write(dir.File("file.txt"), "x");
  EXPECT_TRUE(plat::IsFolder(dir.File("subdir")));
  EXPECT_TRUE(plat::IsFolder(dir.File("sub*")));
  EXPECT_TRUE(plat::IsFolder(dir.File("subd?r")));
  EXPECT_FALSE(plat::IsFolder(dir.File("fil*")));
  EXPECT_FALSE(plat::IsFolder(dir.File("file.txt")));
  EXPECT_FALSE(plat::IsFolder(dir.File("nomatch*")));
}

// Devices are not regular files: the console and NUL neither open as files nor block.
TEST(FilesWindows, DevicesAreNotRegularFiles) {
  std::string out;
  EXPECT_EQ(plat::ReadRegularFile("NUL", 100, out), plat::FileRead::NotRegular);
  EXPECT_EQ(plat::ReadRegularFile("\\\\.\\NUL", 100, out), plat::FileRead::NotRegular);
}

// Another program that holds the file for a moment (a virus scanner, the indexer) does not stop
// the replacement: it is tried again until the file is free.
TEST(FilesWindows, AReplacementWaitsBrieflyForAFileThatIsHeld) {
  TempFolder dir;
  const std::string path = dir.File("t.ini");
  TempFolder::Write(path, "old");
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    Sleep(120);
    CloseHandle(held);
  });
  const bool replaced = plat::WriteFileReplacing(path, "new");
  release.join();
  EXPECT_TRUE(replaced);
  EXPECT_EQ(TempFolder::Read(path), "new");
}

}  // namespace
