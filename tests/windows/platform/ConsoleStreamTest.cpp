// Keys from standard input that is not a console (a pipe, a file): read as the stream it is.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/Console.h"

namespace {

// getch would open the console itself and wait for a key nobody can press; piped keys are read
// from the pipe instead, and its end is -1 at once.
TEST(ConsoleStream, PipedKeysAreReadFromThePipeAndItsEndIsMinusOne) {
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(writeEnd, "7x", 2, &written, nullptr));
  CloseHandle(writeEnd);
  HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
  SetStdHandle(STD_INPUT_HANDLE, readEnd);
  const int first = plat::ConsoleReadKey();
  const int second = plat::ConsoleReadKey();
  const int end = plat::ConsoleReadKey();
  SetStdHandle(STD_INPUT_HANDLE, saved);
  CloseHandle(readEnd);
  EXPECT_EQ(first, '7');
  EXPECT_EQ(second, 'x');
  EXPECT_EQ(end, -1);
}

}  // namespace
