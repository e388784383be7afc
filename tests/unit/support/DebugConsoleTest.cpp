#include <gtest/gtest.h>

#include <string>

#include "support/DebugConsole.h"

namespace brumel {
namespace {

TEST(DebugConsole, DisabledInstanceWritesNothing) {
  TDebugConsole* console = GetDebugConsole(false);
  ASSERT_NE(console, nullptr);
  EXPECT_EQ(GetDebugConsole(true), console);  // the first request decided
  EXPECT_FALSE(console->Enabled);
  EXPECT_EQ(console->Output, plat::kInvalidDebugHandle);  // no console was asked for

  testing::internal::CaptureStdout();
  console->Log("Adapter[0]", "3_PCI_VEN_1002", 12);
  console->LogW(L"Adapter[0]", L"3_PCI_VEN_1002", 12);
  DebugLog(console, std::wstring(L"AdlInitialize"), std::wstring(L"Number of Adapters = 2"), 10);
  DebugLog(console, std::string("AdlInitialize"), std::string("Number of Adapters = 2"), 10);
  DebugLog(nullptr, std::string("x"), std::string("y"), 10);
  EXPECT_EQ(console->SetColor(12), 7);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(console->Enabled);
}

// Lines go to standard error, so that the tool's own output stays as it is.
TEST(DebugConsole, EnabledInstanceWritesLabelledLinesToStandardError) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  TDebugConsole console(true);
  EXPECT_TRUE(console.Enabled);
  DebugLog(&console, std::string("AdlInitialize"), std::string("Number of Adapters = 2"), 10);
  console.Log("Adapter[0]", "3_PCI", 12);
  EXPECT_EQ(console.SetColor(0), 7);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  // A process without standard error gets a console of its own, which cannot be captured here.
  if (!console.OwnsConsole()) {
    EXPECT_EQ(err, "AdlInitialize ... [Number of Adapters = 2]\nAdapter[0] ... [3_PCI]\n");
  }
  console.Close();
  EXPECT_EQ(console.Output, plat::kInvalidDebugHandle);
  console.Log("after", "close", 12);  // no-op
}

}  // namespace
}  // namespace brumel
