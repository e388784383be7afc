// The tool's files against what a hostile or careless neighbour can put at their names: FIFOs,
// devices, links, huge files, lock files of other users.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "common/TestSupport.h"
#include "config/IniFile.h"
#include "isp/ImageFile.h"
#include "isp/UpdateIni.h"
#include "platform/Files.h"
#include "platform/NamedMutex.h"

namespace brumel {
namespace {

using test::TempFolder;
namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool IsLink(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string UniqueName(const char* what) {
  static std::mt19937_64 rng{std::random_device{}()};
  return std::string("brumelTest_") + what + "_" + std::to_string(rng());
}

// Nothing here may block (a FIFO without a writer) or read without end (a device): each name is
// refused the way a file that cannot be opened or read is.
TEST(FileSafety, OnlyRegularFilesOfASaneSizeAreRead) {
  TempFolder dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string zero = dir.File("zero");
  fs::create_symlink("/dev/zero", zero);
  const std::string huge = dir.File("huge.ini");
  {
    const int fd = open(huge.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 16 * 1024 * 1024 + 1), 0);  // sparse: costs no disk
    close(fd);
  }
  for (const std::string& name : {fifo, zero}) {
    fileinfo record;
    record.Path = "before";
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(LoadImageFile(name, record)) << name;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << name;
    EXPECT_EQ(record.Path, "before") << name;
  }
  for (const std::string& name : {fifo, zero, huge}) {
    EXPECT_THROW(TIniFile(name).ReadString("A", "a", ""), EIniFileError) << name;
    TUpdateIni description(name);
    EXPECT_FALSE(description.HasFile()) << name;
    EXPECT_FALSE(description.GetUpdateAP()) << name;
  }
  // Just below the bound a file is read.
  ASSERT_EQ(truncate(huge.c_str(), 16 * 1024 * 1024), 0);
  EXPECT_EQ(TIniFile(huge).ReadString("A", "a", "none"), "none");
}

TEST(FileSafety, AnIniWriteReplacesALinkAndNeverWritesThroughOne) {
  TempFolder dir;
  const std::string target = dir.File("target");
  TempFolder::Write(target, "precious");
  ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  const std::string ini = dir.File("t.ini");
  fs::create_symlink(target, ini);
  // A link under the name older versions used for their temporary file.
  fs::create_symlink(target, ini + ".tmp");

  TIniFile(ini).WriteString("A", "a", "1");
  EXPECT_EQ(TempFolder::Read(target), "precious");
  EXPECT_EQ(ModeOf(target), 0600u);
  EXPECT_FALSE(IsLink(ini));
  EXPECT_EQ(TIniFile(ini).ReadString("A", "a", ""), "1");
  EXPECT_TRUE(IsLink(ini + ".tmp"));
}

TEST(FileSafety, LockFilesAreNeverFollowedNorReModed) {
  // A link planted at the lock file's name: the mutex does not open, the target is untouched.
  TempFolder dir;
  const std::string target = dir.File("target");
  TempFolder::Write(target, "x");
  ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  const std::string planted = UniqueName("planted");
  const std::string plantedFile = plat::NamedMutexFile(planted);
  fs::create_symlink(target, plantedFile);
  plat::NamedMutex m;
  EXPECT_FALSE(m.Open(planted));
  EXPECT_EQ(ModeOf(target), 0600u);
  plat::RemoveFile(plantedFile);

  // A new lock file is made 0644; one that exists keeps its mode.
  const std::string fresh = UniqueName("mode");
  const mode_t savedMask = umask(0);
  plat::NamedMutex created;
  const bool opened = created.Open(fresh);
  umask(savedMask);
  ASSERT_TRUE(opened);
  EXPECT_EQ(ModeOf(plat::NamedMutexFile(fresh)), 0644u);
  created.Close();
  ASSERT_EQ(chmod(plat::NamedMutexFile(fresh).c_str(), 0600), 0);
  ASSERT_TRUE(created.Open(fresh));
  EXPECT_EQ(ModeOf(plat::NamedMutexFile(fresh)), 0600u);
  created.Close();
  plat::RemoveFile(plat::NamedMutexFile(fresh));
}

// A lock file that another user made (here root, 0644) still serves a user who may only read it.
TEST(FileSafety, ALockFileOfAnotherUserServesThroughAReadOnlyOpen) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  const std::string name = UniqueName("foreign");
  const std::string file = plat::NamedMutexFile(name);
  {
    plat::NamedMutex owner;
    ASSERT_TRUE(owner.Open(name));
  }
  ASSERT_EQ(chmod(file.c_str(), 0644), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    if (plat::NamedMutexFile(name) != file) _exit(4);  // another lock folder: nothing shown
    plat::NamedMutex m;
    if (!m.Open(name)) _exit(1);
    _exit(m.Wait(0) == plat::MutexWait::Acquired ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 4) GTEST_SKIP() << "the second user has another lock folder";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ModeOf(file), 0644u);
  plat::RemoveFile(file);
}

}  // namespace
}  // namespace brumel
