// The Windows side of the file functions.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <thread>

#include "common/TestSupport.h"
#include "platform/Files.h"
#include "platform/win32/WideText.h"

namespace {

using brumel::test::TempFolder;

namespace fs = std::filesystem;

// The tool's text is UTF-8; the system's wide calls take UTF-16. A name is converted whole or
// not at all: text that is not UTF-8, and a lone surrogate, name nothing.
TEST(WideText, ConvertsWholeOrNotAtAll) {
  const std::string name = "Łódź_测试_🙂";
  std::wstring wide;
  ASSERT_TRUE(plat::ToWide(name, wide));
  EXPECT_EQ(wide, L"\u0141\u00F3d\u017A_\u6D4B\u8BD5_\U0001F642");
  std::string back;
  ASSERT_TRUE(plat::ToUtf8(wide, back));
  EXPECT_EQ(back, name);
  for (const std::string& bad :
       {std::string("a\xFF"), std::string("\xC5"), std::string("\xE6\xB5")}) {
    EXPECT_FALSE(plat::ToWide(bad, wide)) << bad;
    EXPECT_TRUE(plat::Wide(bad).empty());
  }
  const wchar_t lone[] = {L'a', static_cast<wchar_t>(0xD800), L'b'};
  EXPECT_FALSE(plat::ToUtf8(lone, 3, back));
}

// Every file function takes UTF-8 paths and hands them to the system whole: in a folder whose
// name no ANSI code page holds, the files are made, found, read and removed under their own
// names (not a best-fit spelling, which could even be another folder's).
TEST(FilesWindows, PathsInAnyLanguage) {
  TempFolder dir;
  const fs::path folder16 = fs::path(dir.Folder()) / fs::path(u8"Łódź_测试");
  fs::create_directory(folder16);
  const std::string folder = dir.Folder() + "\\Łódź_测试";
  const std::string file = folder + "\\plik_文件.ini";
  EXPECT_TRUE(plat::IsFolder(folder));
  ASSERT_TRUE(plat::WriteFileReplacing(file, "abc"));
  EXPECT_TRUE(fs::is_regular_file(folder16 / fs::path(u8"plik_文件.ini")));
  EXPECT_TRUE(plat::FileExists(file));
  std::string out;
  EXPECT_EQ(plat::ReadRegularFile(file, 100, out), plat::FileRead::Ok);
  EXPECT_EQ(out, "abc");
  plat::RegularFile opened;
  EXPECT_EQ(opened.Open(file), plat::RegularFile::OpenResult::Opened);
  opened.Close();
  EXPECT_TRUE(plat::RemoveFile(file));
  EXPECT_FALSE(plat::FileExists(file));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder16), fs::directory_iterator()), 0)
      << "the replacement's temporary file is gone too";
  // A path that is not UTF-8 names no file.
  EXPECT_FALSE(plat::WriteFileReplacing(folder + "\\\xFF.ini", "x"));
  EXPECT_FALSE(plat::FileExists(folder + "\\\xFF.ini"));
}

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
