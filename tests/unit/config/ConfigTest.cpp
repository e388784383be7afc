#include <gtest/gtest.h>

#include <filesystem>

#include "common/ExpectedTexts.h"
#include "common/TestSupport.h"
#include "config/Config.h"

namespace {

using brumel::TAdapterRegInfo;
using brumel::TAdapterRegInfos;
using brumel::TCfgAdapterSetting;
using brumel::TConfig;
using brumel::TIniFile;
using brumel::test::AdapterSectionKeys;
using brumel::test::TempFolder;

const char kFreshFile[] =
    "[Preferences]\r\nAutorun=0\r\nMinimize=0\r\nAutoApply=0\r\nActiveAdapter=\r\n";

TAdapterRegInfos Adapters(std::initializer_list<TAdapterRegInfo> infos) {
  TAdapterRegInfos list;
  for (const TAdapterRegInfo& info : infos) list.push_back(std::make_unique<TAdapterRegInfo>(info));
  return list;
}

TEST(Config, FreshFileGetsTheDefaultPreferences) {
  TempFolder dir;
  const std::string path = dir.File("BrumelISP.ini");
  TConfig config(path);
  EXPECT_TRUE(config.FileExisted());
  EXPECT_EQ(TempFolder::Read(path), kFreshFile);
  const auto& prefs = config.GetPreferences();
  EXPECT_EQ(prefs.Autorun, 0);
  EXPECT_EQ(prefs.Minimize, 0);
  EXPECT_EQ(prefs.AutoApply, 0);
  EXPECT_EQ(prefs.ActiveAdapter, "");
}

TEST(Config, ExistingFileIsReadAndNotWritten) {
  TempFolder dir;
  const std::string path = dir.File("BrumelISP.ini");
  struct Case {
    const char* text;
    int32_t autorun, minimize, autoApply;
    const char* active;
  } cases[] = {
      {"[Other]\r\nx=1\r\n", 0, 0, 0, ""},
      {"[preferences]\nAutorun=1\nMinimize=$10\nAutoApply=yes\nActiveAdapter=3_abc\n", 1, 16, 0,
       "3_abc"},
  };
  for (const Case& c : cases) {
    TempFolder::Write(path, c.text);
    TConfig config(path);
    EXPECT_EQ(TempFolder::Read(path), c.text);
    const auto& prefs = config.GetPreferences();
    EXPECT_EQ(prefs.Autorun, c.autorun) << c.text;
    EXPECT_EQ(prefs.Minimize, c.minimize) << c.text;
    EXPECT_EQ(prefs.AutoApply, c.autoApply) << c.text;
    EXPECT_EQ(prefs.ActiveAdapter, c.active) << c.text;
  }
}

TEST(Config, NewAdapterGetsAFullSectionWithTheDefaultFanCurves) {
  TempFolder dir;
  const std::string path = dir.File("BrumelISP.ini");
  TConfig config(path);
  TAdapterRegInfos list = Adapters({{3, "PCI_VEN_1002&DEV_73BF", "Radeon RX 6800"}});
  ASSERT_TRUE(config.UpdateAdapters(&list));

  const std::string name = "3_PCI_VEN_1002&DEV_73BF";
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadSection("Adapters"), std::vector<std::string>{"0"});
  EXPECT_EQ(ini.ReadString("Adapters", "0", ""), name);
  EXPECT_EQ(ini.ReadSection(name), AdapterSectionKeys());
  EXPECT_EQ(ini.ReadString(name, "Bus", ""), "3");
  EXPECT_EQ(ini.ReadString(name, "UDID", ""), "PCI_VEN_1002&DEV_73BF");
  EXPECT_EQ(ini.ReadString(name, "AdapterName", ""), "Radeon RX 6800");
  EXPECT_EQ(ini.ReadString(name, "TweakerMode", ""), "1");

  // Expected value of every integer key after the three texts.
  const int32_t curve2[5][2] = {{0, 50}, {20, 50}, {30, 70}, {60, 85}, {100, 90}};
  std::vector<int32_t> expected = {1, -1, -1, -1, -1, -1};
  for (int k = 0; k < 3; ++k) {
    for (int p = 0; p < 5; ++p) {
      expected.push_back(k == 0 ? -1 : k == 1 ? 20 : curve2[p][0]);
      expected.push_back(k == 0 ? -1 : k == 1 ? 50 : curve2[p][1]);
    }
    expected.push_back(-1);
    expected.push_back(-1);
  }
  const auto keys = AdapterSectionKeys();
  for (size_t i = 3; i < keys.size(); ++i)
    EXPECT_EQ(ini.ReadString(name, keys[i], "missing"), std::to_string(expected[i - 3])) << keys[i];

  const TCfgAdapterSetting* s = config.FindAdapterSetting(name);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Bus, 3);
  EXPECT_EQ(s->AdapterName, "Radeon RX 6800");
  EXPECT_EQ(s->TweakerMode, 1);
  EXPECT_EQ(s->FanCurves[2][4].FanSpeed, 100);
  EXPECT_EQ(s->FanCurves[2][4].FanTemp, 90);
  EXPECT_EQ(s->FanCurves[0][0].FanSpeed, -1);
  EXPECT_EQ(s->Limits[2].TempLimit, -1);
  EXPECT_EQ(config.GetAdapterUDIDs().at(0), name);
}

TEST(Config, ExistingAdapterSectionIsReadNotRecreated) {
  TempFolder dir;
  const std::string path = dir.File("BrumelISP.ini");
  const std::string text = std::string(kFreshFile) + "\r\n[3_U1]\r\nBus=3\r\n";
  TempFolder::Write(path, text);
  TConfig config(path);
  TAdapterRegInfos list = Adapters({{3, "U1", "Card"}});
  ASSERT_TRUE(config.UpdateAdapters(&list));

  TIniFile ini(path);
  EXPECT_EQ(ini.ReadSection("3_U1"), std::vector<std::string>{"Bus"});
  const TCfgAdapterSetting* s = config.FindAdapterSetting("3_U1");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Bus, 3);
  EXPECT_EQ(s->UDID, "");
  EXPECT_EQ(s->AdapterName, "");
  EXPECT_EQ(s->TweakerMode, 1);
  for (int32_t v :
       {s->UserGpuClock, s->UserGpuVoltage, s->UserMemClock, s->UserMemVoltage, s->FanMode})
    EXPECT_EQ(v, -1);
  for (const auto& profile : s->FanCurves)
    for (const auto& point : profile) {
      EXPECT_EQ(point.FanSpeed, -1);
      EXPECT_EQ(point.FanTemp, -1);
    }
  for (const auto& limit : s->Limits) {
    EXPECT_EQ(limit.PowerLimit, -1);
    EXPECT_EQ(limit.TempLimit, -1);
  }
}

TEST(Config, AdapterListIsRewrittenAndOldSectionsStay) {
  TempFolder dir;
  const std::string path = dir.File("BrumelISP.ini");
  TempFolder::Write(path, std::string(kFreshFile) +
                              "\r\n[Adapters]\r\n0=1_A\r\n1=2_B\r\n2=7_C\r\n"
                              "\r\n[7_C]\r\nBus=7\r\nUDID=C\r\nUserGpuClock=1800\r\n");
  TConfig config(path);
  TAdapterRegInfos two = Adapters({{1, "A", "a"}, {2, "B", "b"}});
  ASSERT_TRUE(config.UpdateAdapters(&two));

  TIniFile ini(path);
  EXPECT_EQ(ini.ReadSection("Adapters"), (std::vector<std::string>{"0", "1"}));
  EXPECT_EQ(ini.ReadString("Adapters", "1", ""), "2_B");
  EXPECT_EQ(ini.ReadInteger("7_C", "UserGpuClock", -1), 1800);
  EXPECT_TRUE(ini.SectionExists("1_A"));
  EXPECT_TRUE(ini.SectionExists("2_B"));
  EXPECT_FALSE(config.HasAdapterSetting("7_C"));

  // A null entry keeps its position free.
  TAdapterRegInfos gap = Adapters({{1, "A", "a"}});
  gap.push_back(nullptr);
  gap.push_back(std::make_unique<TAdapterRegInfo>(TAdapterRegInfo{2, "B", "b"}));
  ASSERT_TRUE(config.UpdateAdapters(&gap));
  EXPECT_EQ(ini.ReadSection("Adapters"), (std::vector<std::string>{"0", "2"}));
  EXPECT_EQ(config.GetAdapterUDIDs().size(), 2u);
}

TEST(Config, MissesAndAbsentListsChangeNothing) {
  TempFolder dir;
  const std::string path = dir.File("BrumelISP.ini");
  TConfig config(path);
  TAdapterRegInfos list = Adapters({{3, "U", "Card"}});
  ASSERT_TRUE(config.UpdateAdapters(&list));
  const std::string before = TempFolder::Read(path);

  EXPECT_EQ(config.FindAdapterSetting("4_U"), nullptr);
  EXPECT_FALSE(config.HasAdapterSetting("4_U"));
  EXPECT_EQ(config.FindAdapterSetting("3_u"), nullptr) << "names are compared exactly";
  EXPECT_EQ(config.GetAdapterSettings().size(), 1u);

  EXPECT_FALSE(config.UpdateAdapters(nullptr));
  config.SaveAdapterSetting(nullptr);
  EXPECT_EQ(TempFolder::Read(path), before);
  EXPECT_EQ(config.GetAdapterUDIDs().size(), 1u);
}

TEST(Config, SavedSettingsAreReadBackByTheNextRun) {
  TempFolder dir;
  const std::string path = dir.File("BrumelISP.ini");
  TAdapterRegInfos list = Adapters({{3, "U", "Card"}, {5, "V", "Other"}});
  {
    TConfig config(path);
    ASSERT_TRUE(config.UpdateAdapters(&list));
    TCfgAdapterSetting* s = config.FindAdapterSetting("5_V");
    ASSERT_NE(s, nullptr);
    s->UserGpuClock = 2100;
    s->FanMode = 0;
    s->Limits[1].PowerLimit = 250;
    s->FanCurves[0][3] = {45, 66};
    config.SaveAdapterSetting(s);
    // A second registration refills the same record, so held pointers stay good.
    ASSERT_TRUE(config.UpdateAdapters(&list));
    EXPECT_EQ(config.FindAdapterSetting("5_V"), s);
    EXPECT_EQ(s->UserGpuClock, 2100);
  }
  TConfig next(path);
  ASSERT_TRUE(next.UpdateAdapters(&list));
  const TCfgAdapterSetting* s = next.FindAdapterSetting("5_V");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->UserGpuClock, 2100);
  EXPECT_EQ(s->FanMode, 0);
  EXPECT_EQ(s->Limits[1].PowerLimit, 250);
  EXPECT_EQ(s->FanCurves[0][3].FanSpeed, 45);
  EXPECT_EQ(s->FanCurves[0][3].FanTemp, 66);
  EXPECT_EQ(s->FanCurves[1][0].FanSpeed, 20);
  EXPECT_EQ(next.FindAdapterSetting("3_U")->UserGpuClock, -1);

  // A record that was never registered gets its own entry and section.
  TCfgAdapterSetting added;
  added.Bus = 9;
  added.UDID = "W";
  next.SaveAdapterSetting(&added);
  EXPECT_TRUE(next.HasAdapterSetting("9_W"));
  EXPECT_EQ(TIniFile(path).ReadSection("9_W"), AdapterSectionKeys());
}

TEST(Config, FailedWriteReachesTheCallerAndLeavesNoFile) {
  TempFolder dir;
  const std::string path = dir.File("nosuch") + "/BrumelISP.ini";
  try {
    TConfig config(path);
    ADD_FAILURE() << "no error";
  } catch (const brumel::EIniFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
  EXPECT_FALSE(TempFolder::Exists(path));
}

}  // namespace
