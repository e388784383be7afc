// Keys from a real terminal (a pseudo-terminal standing in for the operator's) and from a pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "platform/Console.h"
#include "platform/ConsoleKeys.h"

namespace {

// Puts fd in the place of standard input for the life of the object.
class StdinFrom {
 public:
  explicit StdinFrom(int fd) : saved_(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
  ~StdinFrom() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

bool Type(int fd, const std::string& bytes) {
  return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

TEST(TerminalInput, AnArrowIsOneKeyAndWhatElseWasTypedIsDropped) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios before{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  {
    StdinFrom terminal(slave);
    // An arrow and then two keys typed before the tool looked: one key, the rest is dropped.
    ASSERT_TRUE(Type(master, "\x1b[B78"));
    usleep(50 * 1000);
    EXPECT_EQ(plat::ConsoleReadKey(), plat::kSpecialKeyBase + 'B');
    ASSERT_TRUE(Type(master, "5"));
    EXPECT_EQ(plat::ConsoleReadKey(), '5');
  }
  termios after{};
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag) << "the terminal is as it was";
  close(slave);
  close(master);
}

TEST(TerminalInput, APipeIsAStreamOfKeysWithNothingDropped) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_TRUE(Type(fds[1], "\x1b[A7"));
  close(fds[1]);
  StdinFrom pipe(fds[0]);
  for (int expected : {0x1B, int{'['}, int{'A'}, int{'7'}, -1, -1})
    EXPECT_EQ(plat::ConsoleReadKey(), expected);
  close(fds[0]);
}

}  // namespace
