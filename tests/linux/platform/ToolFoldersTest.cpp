// Where an installed tool keeps its files: when it counts as installed, which private folder it
// takes and how it makes sure the folder is the user's own, and where it looks for optional files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "platform/posix/ToolFolders.h"

namespace brumel {
namespace {

using test::TempFolder;
namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(ToolFolders, AnExecutableInABinFolderIsInstalled) {
  struct Case {
    const char* folder;
    bool installed;
  };
  for (const Case& c :
       {Case{"/usr/bin/", true}, Case{"/usr/local/bin/", true}, Case{"/opt/brumel/bin/", true},
        Case{"/bin/", true}, Case{"/home/op/build/bench/", false}, Case{"/usr/sbin/", false},
        Case{"/srv/cabinet/", false}, Case{"/", false}}) {
    EXPECT_EQ(plat::IsInstalledFolder(c.folder), c.installed) << c.folder;
  }
}

// The runtime folder serves only when it is the user's own and closed to others; anything else
// (unset, relative, missing, another user's, writable by others, a file) gives the folder in /tmp.
TEST(ToolFolders, ThePrivateFolderIsInTheUsersRuntimeFolderOnlyWhenThatIsTheirOwn) {
  TempFolder dir;
  const uid_t me = geteuid();
  const std::string runtime = dir.File("run-user");
  ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
  const std::string open = dir.File("run-open");
  ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(chmod(open.c_str(), 0777), 0);
  const std::string file = dir.File("run-file");
  TempFolder::Write(file, "x");
  const std::string fallback = "/tmp/brumelisp-" + std::to_string(me);

  EXPECT_EQ(plat::PrivateFolderFor(runtime.c_str(), me), runtime + "/brumelisp");
  EXPECT_EQ(plat::PrivateFolderFor((runtime + "/").c_str(), me), runtime + "/brumelisp");
  for (const char* value : {static_cast<const char*>(nullptr), "", "run-user", open.c_str(),
                            file.c_str(), "/nonexistent/run"}) {
    EXPECT_EQ(plat::PrivateFolderFor(value, me), fallback) << (value ? value : "(unset)");
  }
  EXPECT_EQ(plat::PrivateFolderFor(runtime.c_str(), me + 1),
            "/tmp/brumelisp-" + std::to_string(me + 1))
      << "another user's runtime folder";
}

TEST(ToolFolders, APrivateFolderIsMadeClosedAndAnythingElseAtItsNameIsRefused) {
  TempFolder dir;
  std::string why;

  // Made 0700 whatever the umask (none, or one that leaves the user nothing); taken again as
  // it is.
  for (const mode_t mask : {mode_t{0}, mode_t{0777}}) {
    const std::string fresh = dir.File("fresh" + std::to_string(mask));
    const mode_t savedMask = umask(mask);
    const bool made = plat::MakePrivateFolder(fresh, why);
    umask(savedMask);
    EXPECT_TRUE(made) << why;
    EXPECT_EQ(ModeOf(fresh), 0700u) << "umask " << mask;
    EXPECT_TRUE(plat::MakePrivateFolder(fresh, why)) << why;
  }

  // One of the user's own that others could enter is closed to them.
  const std::string loose = dir.File("loose");
  ASSERT_EQ(mkdir(loose.c_str(), 0700), 0);
  ASSERT_EQ(chmod(loose.c_str(), 0755), 0);
  EXPECT_TRUE(plat::MakePrivateFolder(loose, why)) << why;
  EXPECT_EQ(ModeOf(loose), 0700u);

  // A link planted at the name, even to a folder of the user's, and a file: refused, untouched.
  const std::string target = dir.File("target");
  ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
  const std::string link = dir.File("link");
  fs::create_directory_symlink(target, link);
  EXPECT_FALSE(plat::MakePrivateFolder(link, why));
  EXPECT_EQ(why, link + " is not a folder");
  EXPECT_EQ(ModeOf(target), 0755u);
  const std::string file = dir.File("file");
  TempFolder::Write(file, "x");
  EXPECT_FALSE(plat::MakePrivateFolder(file, why));
  EXPECT_EQ(why, file + " is not a folder");

  // Nothing can be made where the parent is missing.
  EXPECT_FALSE(plat::MakePrivateFolder(dir.File("missing/brumelisp"), why));
  EXPECT_NE(why.find(" cannot be made: "), std::string::npos) << why;
}

// A folder another user made at the name (in /tmp, before the user's first run) is refused and
// left as it is.
TEST(ToolFolders, AFolderOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  TempFolder dir;
  ASSERT_EQ(chmod(dir.Folder().c_str(), 0755), 0);
  const std::string planted = dir.File("planted");
  ASSERT_EQ(mkdir(planted.c_str(), 0777), 0);
  ASSERT_EQ(chmod(planted.c_str(), 0777), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    std::string why;
    if (plat::MakePrivateFolder(planted, why)) _exit(1);
    _exit(why == planted + " belongs to another user" ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ModeOf(planted), 0777u);
}

TEST(ToolFolders, OptionalFilesComeFromTheUsersConfigurationThenTheSystems) {
  using Folders = std::vector<std::string>;
  EXPECT_EQ(plat::ConfigFoldersFor("/home/op/.cfg", "/home/op"),
            (Folders{"/home/op/.cfg/brumelisp/", "/etc/brumelisp/"}));
  EXPECT_EQ(plat::ConfigFoldersFor("/home/op/.cfg/", "/home/op"),
            (Folders{"/home/op/.cfg/brumelisp/", "/etc/brumelisp/"}));
  // A relative $XDG_CONFIG_HOME counts as unset.
  for (const char* unset : {static_cast<const char*>(nullptr), "", "cfg"}) {
    EXPECT_EQ(plat::ConfigFoldersFor(unset, "/home/op"),
              (Folders{"/home/op/.config/brumelisp/", "/etc/brumelisp/"}));
  }
  EXPECT_EQ(plat::ConfigFoldersFor(nullptr, nullptr), (Folders{"/etc/brumelisp/"}));
  EXPECT_EQ(plat::ConfigFoldersFor(nullptr, "home"), (Folders{"/etc/brumelisp/"}));
}

}  // namespace
}  // namespace brumel
