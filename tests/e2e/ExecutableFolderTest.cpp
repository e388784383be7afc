// Where the tool looks for its files and libraries: beside its executable, found however long its
// path is, and never the current folder instead.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "Harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// The kernel tells a process its executable's path through /proc only up to a page long. The
// case builds a folder chain deeper than that, one folder at a time (no single call may name the
// whole path), runs the tool from inside it, and takes the chain down again.
TEST_F(ToolRun, LinuxOnly_AnExecutablePathThatCannotBeReadStopsTheRunBeforeAnything) {
  const std::string part(250, 'd');
  const int top = open(folder_.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(top, 0);
  const int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(home, 0);
  ASSERT_EQ(fchdir(top), 0);
  int depth = 0;
  for (size_t length = folder_.Path().size(); length < 4300; length += part.size() + 1) {
    ASSERT_EQ(mkdir(part.c_str(), 0755), 0);
    ASSERT_EQ(chdir(part.c_str()), 0);
    ++depth;
  }
  std::error_code ec;
  fs::copy_file(GetSettings().tool, "BrumelISP", ec);
  ASSERT_FALSE(ec) << ec.message();
  ASSERT_EQ(chmod("BrumelISP", 0755), 0);

  // An empty cwd keeps this process's folder: the deep one.
  ProcessResult p = RunProcess(TargetCommand("./BrumelISP", {"/I", "0"}, "", {}), "", 20);
  std::set<std::string> left;
  for (const auto& e : fs::directory_iterator(".")) left.insert(e.path().filename().string());

  // Down again, one folder at a time.
  unlink("BrumelISP");
  for (int i = 0; i < depth; ++i) {
    ASSERT_EQ(chdir(".."), 0);
    ASSERT_EQ(rmdir(part.c_str()), 0);
  }
  fchdir(home);
  close(home);
  close(top);

  EXPECT_EQ(p.exitCode, 1) << p.out << p.err;
  EXPECT_EQ(p.out, "Cannot read the path of the running executable: BrumelISP stops\n") << p.err;
  EXPECT_EQ(left, std::set<std::string>{"BrumelISP"}) << "nothing made in the current folder";
}

// A Windows path longer than MAX_PATH is read whole: the configuration file is looked for beside
// the executable, never in the current folder (where a folder of its name would stop the run
// with ".\\" in its message). Whether the file can then be written at that length is the
// system's affair (under Wine it cannot): either the run ends normally, or its message names
// the executable's own folder.
TEST_F(ToolRun, WineOnly_AnExecutableBeyondMaxPathFindsItsOwnFolder) {
  std::string deep = folder_.Path();
  for (int i = 0; i < 3; ++i) deep += "/" + std::string(100, static_cast<char>('a' + i));
  std::error_code ec;
  fs::create_directories(deep, ec);
  ASSERT_FALSE(ec) << ec.message();
  fs::copy_file(GetSettings().tool, deep + "/" + ToolFileName(), ec);
  ASSERT_FALSE(ec) << ec.message();
  folder_.Put(ExtraFile::Folder("BrumelISP.ini"));

  ProcessResult p =
      RunProcess(TargetCommand(deep + "/" + ToolFileName(), {"/I", "0"}, folder_.Path(), {}), "",
                 DefaultTimeLimit());
  EXPECT_EQ(p.out.find("Unable to write to .\\"), std::string::npos) << p.out;
  if (p.exitCode != 0) {
    EXPECT_NE(p.out.find("Unable to write to "), std::string::npos) << p.out;
    EXPECT_NE(p.out.find(std::string(100, 'c') + "\\\\BrumelISP.ini"), std::string::npos) << p.out;
  }
  EXPECT_TRUE(fs::is_directory(folder_.PathOf("BrumelISP.ini")));
  EXPECT_FALSE(fs::exists(deep + "/BrumelISP.ini")) << "the run removes its file";
}

// A folder whose name no ANSI code page can hold: the tool runs from it on the simulated card,
// finds the display library beside itself there, shows the size of an image named through such
// a folder on its command line, and removes its configuration file at the end.
TEST_F(ToolRun, AFolderNamedInAnyLanguage) {
  // UTF-8, as every text of the tool.
  const std::string name = "Łódź_测试";
  const std::string image = "obraz_图.bin";
  const std::string dir = folder_.PathOf(name);
  const std::string library = SimFile(DisplayLibraryFileName());
  ASSERT_FALSE(library.empty()) << "substitute " << DisplayLibraryFileName() << " not built";
  folder_.Put(ExtraFile::Copy(name + "/" + ToolFileName(), GetSettings().tool));
  folder_.Put(ExtraFile::Copy(name + "/" + DisplayLibraryFileName(), library));
  folder_.Put(ExtraFile::Text(name + "/" + image, "abc"));

  const std::string separator = UnderWine() ? "\\" : "/";
  // The log in a folder of a plain name: the simulated library itself opens it through the C
  // run-time's narrow calls.
  EnvChanges env{{"BRUMEL_SIM_LOG", folder_.PathOf("sim.log")},
                 {"BRUMEL_SIM_SCENARIO", std::nullopt}};
  ProcessResult p =
      RunProcess(TargetCommand(dir + "/" + ToolFileName(),
                               {"/I", "2", "/UA", name + separator + image}, folder_.Path(), env),
                 "", DefaultTimeLimit());
  std::string out;
  for (char c : p.out)
    if (c != '\r') out += c;
  EXPECT_EQ(p.exitCode, 0) << out << p.err;
  EXPECT_EQ(out.find("Unable to write"), std::string::npos) << out;
  EXPECT_NE(out.find("Adapter: Bench Radeon Graphics\n"), std::string::npos) << out;
  EXPECT_NE(out.find("APROM file size ........ 3 bytes (0x3)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("FW Version ............. 0x00010203\n"), std::string::npos) << out;
  // The only display library is the one beside the tool.
  EXPECT_NE(folder_.Read("sim.log").find("ADL2_Main_Control_Create connected=1 result=0"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(dir + "/BrumelISP.ini")) << "the run removes its file";
  EXPECT_FALSE(folder_.Exists("BrumelISP.ini")) << "nor writes one in the current folder";
}

}  // namespace
}  // namespace e2e
