#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>

#include "common/TestSupport.h"
#include "config/IniFile.h"

namespace {

using brumel::EIniFileError;
using brumel::TIniFile;
using brumel::test::TempFolder;

// Mixed line endings, comments, blanks around names and values, an empty section.
const char kSample[] =
    "; tool settings\r\n"
    "[Main]\r\n"
    "Key=value\n"
    "  Spaced  =  padded value  \r\n"
    "Quoted=\"  quoted  \"\r\n"
    "Hex=0x1A2B\n"
    "Dollar=$1A2B\r\n"
    "Dec=6699\r\n"
    "Neg=-5\r\n"
    "Bad=12a\r\n"
    "Empty=\r\n"
    "\r\n"
    "[Empty]\r\n"
    "; only a comment\r\n"
    "\r\n"
    "[Last]\n"
    "k=v";  // no line break at the end

TEST(IniFile, ReadsTextWithTheProfileRules) {
  TempFolder dir;
  const std::string path = dir.File("t.ini");
  TempFolder::Write(path, kSample);
  TIniFile ini(path);

  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"Main", "Key", "value"},
      {"MAIN", "key", "value"},
      {"main", "SPACED", "padded value"},
      {"Main", "Quoted", "  quoted  "},
      {"Main", "Empty", ""},
      {"Main", "Missing", "def"},
      {"Nosuch", "Key", "def"},
      {"Empty", "Key", "def"},
      {"last", "K", "v"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ini.ReadString(c.section, c.key, "def"), c.expected) << c.section << "/" << c.key;

  EXPECT_TRUE(ini.SectionExists("main"));
  EXPECT_TRUE(ini.SectionExists("LAST"));
  EXPECT_FALSE(ini.SectionExists("Empty")) << "a section without keys counts as missing";
  EXPECT_FALSE(ini.SectionExists("Nosuch"));
  EXPECT_EQ(ini.ReadSection("MAIN"),
            (std::vector<std::string>{"Key", "Spaced", "Quoted", "Hex", "Dollar", "Dec", "Neg",
                                      "Bad", "Empty"}));
}

TEST(IniFile, ReadsIntegersWithTheNumberRuleAndTheKeysDefault) {
  TempFolder dir;
  const std::string path = dir.File("t.ini");
  TempFolder::Write(path, kSample);
  TIniFile ini(path);

  struct Case {
    const char* key;
    int32_t def;
    int32_t expected;
  } cases[] = {
      {"Hex", -1, 6699}, {"Dollar", -1, 6699}, {"Dec", -1, 6699}, {"Neg", 0, -5},
      {"Bad", 1, 1},     {"Empty", -1, -1},    {"Key", 7, 7},     {"Missing", 42, 42},
  };
  for (const auto& c : cases) EXPECT_EQ(ini.ReadInteger("main", c.key, c.def), c.expected) << c.key;
  EXPECT_TRUE(ini.ReadBool("Main", "Neg", false));
  EXPECT_FALSE(ini.ReadBool("Main", "Bad", false));
  EXPECT_TRUE(ini.ReadBool("Main", "Missing", true));
}

TEST(IniFile, CutsValuesAt2047Characters) {
  TempFolder dir;
  TIniFile ini(dir.File("t.ini"));
  const std::string longest(TIniFile::kMaxValueLength, 'a');
  ini.WriteString("S", "fits", longest);
  ini.WriteString("S", "long", longest + "bcdef");
  EXPECT_EQ(ini.ReadString("S", "fits", ""), longest);
  EXPECT_EQ(ini.ReadString("S", "long", ""), longest);
}

TEST(IniFile, FirstWriteCreatesTheFileInProfileForm) {
  TempFolder dir;
  const std::string path = dir.File("new.ini");
  TIniFile ini(path);
  ini.WriteString("Sec", "A", "1");
  ini.WriteInteger("Sec", "B", -7);
  ini.WriteInteger("Other", "C", 2147483647);
  ini.WriteString("SEC", "a", "2");  // same key, other case: replaced in place
  EXPECT_EQ(TempFolder::Read(path), "[Sec]\r\nA=2\r\nB=-7\r\n\r\n[Other]\r\nC=2147483647\r\n");
  EXPECT_FALSE(TempFolder::Exists(path + ".tmp"));
}

TEST(IniFile, WritesKeepEverythingElseAsItIs) {
  TempFolder dir;
  const std::string path = dir.File("t.ini");
  TempFolder::Write(path,
                    "; head\n"
                    "[A]\n"
                    "Key = old ; not a comment\n"
                    "; inside A\n"
                    "Other=1\n"
                    "\n"
                    "[B]\n"
                    "x=1\n");
  TIniFile ini(path);
  ini.WriteString("a", "KEY", "new");
  ini.WriteString("A", "Added", "2");
  ini.WriteString("C", "y", "3");
  EXPECT_EQ(TempFolder::Read(path),
            "; head\r\n"
            "[A]\r\n"
            "Key=new\r\n"
            "; inside A\r\n"
            "Other=1\r\n"
            "Added=2\r\n"
            "\r\n"
            "[B]\r\n"
            "x=1\r\n"
            "\r\n"
            "[C]\r\n"
            "y=3\r\n");
}

TEST(IniFile, LineBreaksInAValueCannotAddKeysOrSections) {
  TempFolder dir;
  const std::string path = dir.File("t.ini");
  TIniFile ini(path);
  ini.WriteString("S", "name", "card\r\n[Evil]\nBus=1");
  EXPECT_EQ(ini.ReadString("S", "name", ""), "card  [Evil] Bus=1");
  EXPECT_FALSE(ini.SectionExists("Evil"));
  EXPECT_EQ(ini.ReadSection("S"), std::vector<std::string>{"name"});
}

TEST(IniFile, EraseRemovesTheSectionWithItsKeys) {
  TempFolder dir;
  const std::string path = dir.File("t.ini");
  TempFolder::Write(path, "[A]\r\na=1\r\n\r\n[B]\r\nb=1\r\n; note\r\nc=2\r\n\r\n[C]\r\nc=3\r\n");
  TIniFile ini(path);
  ini.EraseSection("b");
  EXPECT_FALSE(ini.SectionExists("B"));
  EXPECT_EQ(ini.ReadString("B", "c", "gone"), "gone");
  EXPECT_EQ(TempFolder::Read(path), "[A]\r\na=1\r\n\r\n[C]\r\nc=3\r\n");

  ini.EraseSection("A");
  EXPECT_EQ(TempFolder::Read(path), "[C]\r\nc=3\r\n");

  // A section that is not there: the file stays as it is, a missing file is not created.
  ini.EraseSection("Nosuch");
  EXPECT_EQ(TempFolder::Read(path), "[C]\r\nc=3\r\n");
  TIniFile missing(dir.File("missing.ini"));
  missing.EraseSection("C");
  EXPECT_FALSE(TempFolder::Exists(dir.File("missing.ini")));
}

// Two sections of one name with a blank line between them: erasing them takes nothing of the
// section that follows.
TEST(IniFile, ErasingARepeatedSectionKeepsTheNextOne) {
  TempFolder dir;
  const std::string path = dir.File("t.ini");
  TempFolder::Write(path, "[A]\r\nk=1\r\n\r\n[A]\r\nk=2\r\n[B]\r\nx=1\r\n");
  TIniFile ini(path);
  ini.EraseSection("A");
  EXPECT_EQ(TempFolder::Read(path), "[B]\r\nx=1\r\n");
  EXPECT_EQ(ini.ReadString("B", "x", ""), "1");
}

TEST(IniFile, WriteValuesSetsASectionInOneGo) {
  TempFolder dir;
  const std::string path = dir.File("t.ini");
  TempFolder::Write(path, "[S]\r\nb=old\r\n");
  TIniFile ini(path);
  ini.WriteValues("s", {{"a", "1"}, {"B", "2"}, {"c", "3"}});
  EXPECT_EQ(TempFolder::Read(path), "[S]\r\nb=2\r\na=1\r\nc=3\r\n");
}

// Obstacles root cannot write through: a folder at the file's name (which cannot be read
// either), or a missing parent folder. Every operation fails with the path in its error, the
// folder keeps exactly what it held (no temporary file is left), and a file that another program
// left under a temporary-looking name is not touched.
TEST(IniFile, FailedWriteLeavesThePreviousFileAndNamesThePath) {
  TempFolder dir;
  const std::string others = dir.File("t.ini.tmp");
  TempFolder::Write(others, "not ours");
  const std::string folderAtFile = dir.File("t.ini");
  std::filesystem::create_directories(folderAtFile + "/inner");
  using Op = std::function<void(TIniFile&)>;
  const Op ops[] = {
      [](TIniFile& ini) { ini.WriteString("A", "a", "2"); },
      [](TIniFile& ini) { ini.WriteInteger("B", "b", 5); },
      [](TIniFile& ini) {
        ini.WriteValues("A", {{"a", "3"}, {"z", "4"}});
      },
      [](TIniFile& ini) { ini.EraseSection("A"); },
      [](TIniFile& ini) { ini.ReadString("A", "a", ""); },
  };
  auto names = [&] {
    std::set<std::string> found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.Folder()))
      found.insert(e.path().string());
    return found;
  };
  const std::set<std::string> before = names();
  for (const std::string& path : {folderAtFile, dir.File("nosuch") + "/t.ini"}) {
    for (size_t i = 0; i < std::size(ops); ++i) {
      const bool missingParent = path != folderAtFile;
      if (missingParent && i >= 3) continue;  // a missing file reads as empty: nothing to do
      TIniFile ini(path);
      try {
        ops[i](ini);
        ADD_FAILURE() << path << ", operation " << i << ": no error";
      } catch (const EIniFileError& e) {
        EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
      }
      EXPECT_EQ(names(), before) << path << ", operation " << i;
    }
  }
  EXPECT_EQ(TempFolder::Read(others), "not ours");
}

TEST(IniFile, WithoutAFileNameKeepsTheTextInMemory) {
  TIniFile ini("");
  EXPECT_FALSE(ini.SectionExists("S"));
  ini.WriteInteger("S", "n", 12);
  EXPECT_EQ(ini.ReadInteger("s", "N", 0), 12);
  ini.EraseSection("S");
  EXPECT_FALSE(ini.SectionExists("S"));
}

}  // namespace
