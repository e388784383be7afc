#include <gtest/gtest.h>

#include "isp/UpdateIni.h"
#include "common/TestSupport.h"

namespace {

using brumel::TUpdateIni;
using brumel::test::TempFolder;

TEST(UpdateIni, MissingFileLeavesEverythingEmpty) {
  TempFolder dir;
  TUpdateIni ini(dir.File("UpdateFW.ini"));
  EXPECT_FALSE(ini.HasFile());
  EXPECT_FALSE(ini.GetUpdateAP());
  EXPECT_EQ(ini.GetCheck().AP_FILE, "");
  EXPECT_EQ(ini.GetCheck().AP_CKSUM, 0);
  EXPECT_FALSE(TempFolder::Exists(dir.File("UpdateFW.ini")));
}

TEST(UpdateIni, ReadsFlagsAndNumbersFromTheirOwnSections) {
  TempFolder dir;
  const std::string path = dir.File("UpdateFW.ini");
  struct Case {
    const char* text;
    bool updateAP;
    int32_t apChecksum;
  } cases[] = {
      {"[Config]\r\nUpdateAP=1\r\n", true, 0},
      {"[Config]\r\nUpdateAP=0\r\n", false, 0},
      {"[Config]\r\nUpdateAP=yes\r\n", false, 0},
      {"[config]\nupdateap = 0x10\n", true, 0},
      {"[Check]\r\nAP_CKSUM=0x1A2B\r\n", false, 6699},
      {"[Check]\r\nAP_CKSUM=$1A2B\r\n", false, 6699},
      {"[Check]\r\nAP_CKSUM=6699\r\n", false, 6699},
      {"[Check]\r\nAP_CKSUM=1A2B\r\n", false, 0},
      {"[Check]\r\nUpdateAP=1\r\n[Config]\r\nAP_CKSUM=6699\r\n", false, 0},
  };
  for (const Case& c : cases) {
    TempFolder::Write(path, c.text);
    TUpdateIni ini(path);
    EXPECT_TRUE(ini.HasFile());
    EXPECT_EQ(ini.GetUpdateAP(), c.updateAP) << c.text;
    EXPECT_EQ(ini.GetCheck().AP_CKSUM, c.apChecksum) << c.text;
  }
}

TEST(UpdateIni, EveryKeyLandsInItsField) {
  TempFolder dir;
  const std::string path = dir.File("UpdateFW.ini");
  TempFolder::Write(path,
                    "[Config]\r\nUpdateAP=0\r\nUpdateData=1\r\nUpdateLD=2\r\n"
                    "[Check]\r\nEnable=1\r\n"
                    "LD_CKSUM=1\r\nLD_VER=2\r\nLD_DATE=3\r\nLD_FILE=ld.bin\r\n"
                    "AP_CKSUM=4\r\nAP_VER=5\r\nAP_DATE=6\r\nAP_FILE=ap.bin\r\n"
                    "DATA_CKSUM=7\r\nDATA_FILE=data.bin\r\n"
                    "ISP_CKSUM=8\r\nISP_VER=9\r\nISP_DATE=$0A\r\nISP_FILE=isp.bin\r\n");
  TUpdateIni ini(path);
  EXPECT_EQ(ini.GetFileName(), path);
  EXPECT_FALSE(ini.GetUpdateAP());
  EXPECT_TRUE(ini.GetUpdateData());
  EXPECT_TRUE(ini.GetUpdateLD());
  const auto& c = ini.GetCheck();
  EXPECT_TRUE(c.Enable);
  const int32_t numbers[] = {c.LD_CKSUM, c.LD_VER,     c.LD_DATE,   c.AP_CKSUM, c.AP_VER,
                             c.AP_DATE,  c.DATA_CKSUM, c.ISP_CKSUM, c.ISP_VER,  c.ISP_DATE};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(numbers[i], i + 1);
  EXPECT_EQ(c.LD_FILE, "ld.bin");
  EXPECT_EQ(c.AP_FILE, "ap.bin");
  EXPECT_EQ(c.DATA_FILE, "data.bin");
  EXPECT_EQ(c.ISP_FILE, "isp.bin");
}

TEST(UpdateIni, OneDescriptionPerRunUntilReleased) {
  TempFolder dir;
  const std::string first = dir.File("first.ini");
  const std::string second = dir.File("second.ini");
  TempFolder::Write(first, "[Config]\r\nUpdateAP=1\r\n");
  TempFolder::Write(second, "[Config]\r\nUpdateAP=0\r\n");

  brumel::ReleaseUpdateDescription();
  TUpdateIni* a = brumel::GetUpdateDescription(first);
  ASSERT_NE(a, nullptr);
  TUpdateIni* b = brumel::GetUpdateDescription(second);
  EXPECT_EQ(a, b);
  EXPECT_EQ(b->GetFileName(), first);
  EXPECT_TRUE(b->GetUpdateAP());

  brumel::ReleaseUpdateDescription();
  TUpdateIni* c = brumel::GetUpdateDescription(second);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetFileName(), second);
  EXPECT_FALSE(c->GetUpdateAP());
  brumel::ReleaseUpdateDescription();
}

}  // namespace
