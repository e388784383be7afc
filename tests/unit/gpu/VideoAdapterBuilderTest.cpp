// The adapter enumerator over a display library of the test's own: which adapters it keeps,
// and what it records in the configuration file.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "FakeAdl.h"
#include "common/ExpectedTexts.h"
#include "common/TestSupport.h"
#include "config/Config.h"
#include "config/IniFile.h"
#include "gpu/OD8VideoAdapter.h"
#include "gpu/VideoAdapterBuilder.h"

namespace brumel {
namespace {
using test::AdapterSectionKeys;
using test::FakeAdapter;
using test::FakeAdl;
using test::TempFolder;

const FakeAdapter kCardA{3, 0, 0, "UDID_A", "Card A", 7, 0};
const FakeAdapter kCardB{5, 0, 0, "UDID_B", "Card B", 7, 0};

FakeAdapter With(FakeAdapter a, int overdrive, int capsResult = 0) {
  a.overdrive = overdrive;
  a.capsResult = capsResult;
  return a;
}

// "Key=Value" of every key of a section, in file order.
std::vector<std::string> SectionText(const std::string& path, const std::string& section) {
  TIniFile ini(path);
  std::vector<std::string> out;
  for (const std::string& key : ini.ReadSection(section))
    out.push_back(key + "=" + ini.ReadString(section, key, "?"));
  return out;
}

struct Enumeration {
  const char* what;
  std::vector<FakeAdapter> adapters;
  std::set<std::string> missing;
  size_t objects;
  std::vector<int> keptIndices;          // library adapter index of each kept adapter
  std::vector<std::string> adapterList;  // the "Adapters" section
  std::string reason;                    // why none was kept ("" when one was)
};

// The library LoadBeside() finds.
const std::string kLibrary = "The display library " + TADL::LibraryFileName(0);

TEST(VideoAdapterBuilder, KeepsOneAdapterPerCardAsListed) {
  const Enumeration cases[] = {
      {"one card as four logical entries",
       {kCardA, kCardA, kCardA, kCardA},
       {},
       4,
       {0},
       {"0=3_UDID_A"},
       ""},
      // Only the last kept adapter is compared: alternating cards are all kept.
      {"A, B, A",
       {kCardA, kCardB, kCardA},
       {},
       3,
       {0, 1, 2},
       {"0=3_UDID_A", "1=5_UDID_B", "2=3_UDID_A"},
       ""},
      {"A, A, B, B",
       {kCardA, kCardA, kCardB, kCardB},
       {},
       4,
       {0, 2},
       {"0=3_UDID_A", "1=5_UDID_B"},
       ""},
      {"no tuning capability entry point",
       {kCardA, kCardB},
       {"ADL2_Overdrive_Caps"},
       0,
       {},
       {},
       kLibrary + " lacks the entry point ADL2_Overdrive_Caps"},
      {"generations other than 7 and 8, and a refused query",
       {With(kCardA, 6), With(kCardB, 8), With(kCardB, 9), With(kCardA, 7, -8)},
       {},
       1,
       {1},
       {"0=5_UDID_B"},
       ""},
      {"none of generation 7 or 8",
       {With(kCardA, 6), With(kCardB, 9), With(kCardA, 7, -8)},
       {},
       0,
       {},
       {},
       kLibrary + " reports no adapter with overdrive support (generation 7 or 8): 3 adapters "
                  "listed, generations 6 and 9 reported, ADL2_Overdrive_Caps answered -8"},
      {"no adapters", {}, {}, 0, {}, {}, kLibrary + " reports no adapter"},
  };
  for (const Enumeration& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder dir;
    const std::string path = dir.File("BrumelISP.ini");
    TConfig config(path);
    FakeAdl fake;
    fake.adapters = c.adapters;
    fake.missing = c.missing;
    auto adl = fake.LoadBeside();
    TVideoAdapterBuilder builder(adl.get(), &config);

    EXPECT_EQ(builder.GetAdapterObjectCount(), c.objects);
    std::vector<int> kept;
    for (IVideoAdapter* a : *builder.GetAdapters()) kept.push_back(a->GetAdapterIndex());
    EXPECT_EQ(kept, c.keptIndices);
    EXPECT_EQ(builder.IsReady(), !kept.empty());
    EXPECT_EQ(builder.GetActiveAdapterIndex(), kept.empty() ? -1 : 0);
    EXPECT_EQ(builder.GetActiveAdapter(), kept.empty() ? nullptr : builder.GetAdapters()->front());
    EXPECT_EQ(SectionText(path, "Adapters"), c.adapterList);
    EXPECT_EQ(config.GetAdapterUDIDs().size(), c.adapterList.size());  // one registration each
    EXPECT_EQ(builder.NoAdapterReason(), c.reason);
  }
}

TEST(VideoAdapterBuilder, AdapterClassFollowsTheGeneration) {
  TConfig config("");
  FakeAdl fake;
  fake.adapters = {kCardA, With(kCardB, 8)};
  auto adl = fake.LoadBeside();
  TVideoAdapterBuilder builder(adl.get(), &config);
  ASSERT_EQ(builder.GetAdapters()->size(), 2u);
  IVideoAdapter* a = (*builder.GetAdapters())[0];
  IVideoAdapter* b = (*builder.GetAdapters())[1];
  EXPECT_EQ(a->GetOverdriveVersion(), 7);
  EXPECT_EQ(b->GetOverdriveVersion(), 8);
  EXPECT_NE(dynamic_cast<TOD8VideoAdapter*>(b), nullptr);
  EXPECT_TRUE(a->IsValid());
  EXPECT_EQ(a->GetAdapterName(), "Card A");
  EXPECT_EQ(a->GetUniqueName(), "3_UDID_A");
  EXPECT_EQ(b->GetBusNumber(), 5);
  // This library reports no tuning values: the generation-7 adapter's start-up stops at its
  // capabilities and its ranges keep their unset bytes; the generation-8 adapter fills its
  // ranges from an empty table. Every id below 8 still has its record.
  for (int32_t id = 0; id < kSettingCount; ++id) {
    const ADL_ODRange* range = a->GetSettingRange(static_cast<_ADL_SETTING_ID>(id));
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(range->Supported, -1);
    EXPECT_TRUE(std::isnan(range->Default));
    const ADL_ODRange* other = b->GetSettingRange(static_cast<_ADL_SETTING_ID>(id));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->Default, 0);
  }
  EXPECT_EQ(a->GetSettingRange(static_cast<_ADL_SETTING_ID>(8)), nullptr);
  EXPECT_EQ(b->GetSettingRange(static_cast<_ADL_SETTING_ID>(-1)), nullptr);
}

TEST(VideoAdapterBuilder, ActiveAdapterChangesOnlyWithinTheList) {
  TConfig config("");
  FakeAdl fake;
  fake.adapters = {kCardA, kCardB, kCardA};
  auto adl = fake.LoadBeside();
  TVideoAdapterBuilder builder(adl.get(), &config);
  EXPECT_FALSE(builder.SetActiveAdapter(-1));
  EXPECT_FALSE(builder.SetActiveAdapter(3));
  EXPECT_EQ(builder.GetActiveAdapterIndex(), 0);
  EXPECT_TRUE(builder.SetActiveAdapter(2));
  EXPECT_EQ(builder.GetActiveAdapter()->GetAdapterIndex(), 2);
}

// A new section gets the 45 keys in order, the default fan curves and the adapter's own
// defaults; an adapter that cannot tune anything yields "not set" (-1), never the integer a
// NaN would convert to.
TEST(VideoAdapterBuilder, NewSectionIsSeededFromTheAdapter) {
  TempFolder dir;
  const std::string path = dir.File("BrumelISP.ini");
  TConfig config(path);
  FakeAdl fake;
  fake.adapters = {kCardA};
  auto adl = fake.LoadBeside();
  TVideoAdapterBuilder builder(adl.get(), &config);

  TIniFile ini(path);
  EXPECT_EQ(ini.ReadSection("3_UDID_A"), AdapterSectionKeys());
  std::vector<std::string> expected = {"Bus=3",           "UDID=UDID_A",       "AdapterName=Card A",
                                       "TweakerMode=1",   "UserGpuClock=-1",   "UserGpuVoltage=-1",
                                       "UserMemClock=-1", "UserMemVoltage=-1", "FanMode=0"};
  const int curves[3][5][2] = {{{-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}},
                               {{20, 50}, {20, 50}, {20, 50}, {20, 50}, {20, 50}},
                               {{0, 50}, {20, 50}, {30, 70}, {60, 85}, {100, 90}}};
  for (int k = 0; k < 3; ++k) {
    for (int p = 0; p < 5; ++p) {
      const std::string kp = std::to_string(k) + "_" + std::to_string(p);
      expected.push_back("FanSpeed" + kp + "=" + std::to_string(curves[k][p][0]));
      expected.push_back("FanTemp" + kp + "=" + std::to_string(curves[k][p][1]));
    }
    expected.push_back("PowerLimit" + std::to_string(k) + "=-1");
    expected.push_back("TempLimit" + std::to_string(k) + "=-1");
  }
  EXPECT_EQ(SectionText(path, "3_UDID_A"), expected);
  EXPECT_NE(std::find(fake.logLines.begin(), fake.logLines.end(),
                      FakeAdl::Line{"Adapter[0]", "3_UDID_A", 12}),
            fake.logLines.end());
}

// A section already filled in is saved as it stands; the adapter list is rewritten.
TEST(VideoAdapterBuilder, ExistingSectionIsSavedUnchanged) {
  TempFolder dir;
  const std::string path = dir.File("BrumelISP.ini");
  std::string section = "[3_UDID_A]\r\n";
  std::vector<std::string> values;
  int n = 0;
  for (const std::string& key : AdapterSectionKeys()) {
    std::string value = std::to_string(100 + n++);
    if (key == "Bus") value = "3";
    if (key == "UDID") value = "UDID_A";
    if (key == "AdapterName") value = "Named By Hand";
    if (key == "UserGpuClock") value = "1500";
    section += key + "=" + value + "\r\n";
    values.push_back(key + "=" + value);
  }
  TempFolder::Write(path, "[Adapters]\r\n0=9_OLD\r\n1=3_UDID_A\r\n2=7_GONE\r\n" + section +
                              "[9_OLD]\r\nBus=9\r\n");
  TConfig config(path);
  FakeAdl fake;
  fake.adapters = {kCardA};
  auto adl = fake.LoadBeside();
  TVideoAdapterBuilder builder(adl.get(), &config);

  EXPECT_EQ(SectionText(path, "3_UDID_A"), values);
  EXPECT_EQ(SectionText(path, "Adapters"), std::vector<std::string>{"0=3_UDID_A"});
  EXPECT_EQ(SectionText(path, "9_OLD"), std::vector<std::string>{"Bus=9"});
  for (const auto& line : fake.logLines) EXPECT_NE(line.label.rfind("Adapter[", 0), 0u);
}

// The record's texts are read up to the end of their fields, terminated or not.
TEST(VideoAdapterBuilder, TextFieldsEndWithTheirField) {
  TConfig config("");
  FakeAdl fake;
  FakeAdapter card = kCardA;
  card.udid = std::string(256, 'U');
  card.name = std::string(256, 'N');
  fake.adapters = {card};
  auto adl = fake.LoadBeside();
  TVideoAdapterBuilder builder(adl.get(), &config);
  ASSERT_EQ(builder.GetAdapters()->size(), 1u);
  IVideoAdapter* a = builder.GetAdapters()->front();
  EXPECT_EQ(a->GetUDID(), std::string(256, 'U'));
  EXPECT_EQ(a->GetAdapterName(), std::string(256, 'N'));
  EXPECT_EQ(a->GetUniqueName(), "3_" + std::string(256, 'U'));
}

TEST(VideoAdapterBuilder, LibraryDoublesBecomeConfigurationIntegers) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double value;
    int32_t expected;
  } cases[] = {{1500.9, 1500},
               {-3.7, -3},
               {2147483647.9, INT32_MAX},
               {-2147483648.9, INT32_MIN},
               {2147483648.0, -1},
               {-2147483649.0, -1},
               {1e300, -1},
               {nan, -1},
               {-std::numeric_limits<double>::infinity(), -1}};
  for (const auto& c : cases) EXPECT_EQ(TruncToInt32OrUnset(c.value), c.expected) << c.value;
}

// An adapter outside a ready library is not valid and reads as unknown.
TEST(VideoAdapterBuilder, AdapterOutsideTheLibraryIsNotValid) {
  FakeAdl fake;
  fake.adapters = {kCardA};
  auto adl = fake.LoadBeside();
  for (int32_t index : {-1, 1}) {
    TOD8VideoAdapter adapter(adl.get(), index);
    EXPECT_FALSE(adapter.IsValid());
    EXPECT_EQ(adapter.GetBusNumber(), 255);
    EXPECT_EQ(adapter.GetPciId(), 0xFFFFFFFFu);
    EXPECT_EQ(adapter.GetUDID(), "");
    EXPECT_EQ(adapter.GetAdapterName(), "");
    uint8_t byte = 0;
    EXPECT_FALSE(adapter.I2CWrite(0x6C, 0, &byte, 1));
  }
  EXPECT_TRUE(fake.i2c.empty());
}

}  // namespace
}  // namespace brumel
