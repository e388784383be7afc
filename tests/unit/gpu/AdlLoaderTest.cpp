// The display library loader with a library of the test's own: where it is looked for, which
// lines it writes, and when it counts as ready.
#include <gtest/gtest.h>

#include <climits>

#include "FakeAdl.h"
#include "gpu/ADL.h"

namespace brumel {
namespace {

using test::FakeAdl;
using Line = FakeAdl::Line;

const std::string kName64 = TADL::LibraryFileName(0);  // atiadlxx
const std::string kName32 = TADL::LibraryFileName(1);  // atiadlxy

TEST(AdlLoader, LibraryBesideTheExecutableComesFirstAndSilently) {
  FakeAdl fake;
  fake.besideExecutable = {kName64};
  fake.bySearch = {kName64, kName32};
  auto adl = fake.Load();
  EXPECT_TRUE(adl->IsReady());
  EXPECT_EQ(fake.loads, std::vector<std::string>{"beside " + kName64});
  EXPECT_EQ(fake.logLines, (std::vector<Line>{{"AdlLoadFunction", "OD8 APIs ... Support", 10},
                                              {"AdlLoadFunction", "I2C APIs ... Support", 10},
                                              {"AdlInitialize", "Number of Adapters = 1", 10}}));
  EXPECT_EQ(adl->GetMainControlVersion(), 2);
  EXPECT_EQ(adl->GetExportedFunctions().size(), 120u);
  ASSERT_NE(adl->GetAdapterTable(), nullptr);
  EXPECT_EQ(adl->GetAdapterTable()[0].BusNumber, 3);

  adl.reset();  // teardown: the context is destroyed and the library released
  EXPECT_EQ(fake.destroys, 1);
  EXPECT_EQ(fake.frees, 1);
}

TEST(AdlLoader, SecondNameThroughTheSystemSearchGetsTheX32Label) {
  FakeAdl fake;
  fake.bySearch = {kName32};
  auto adl = fake.Load();
  EXPECT_TRUE(adl->IsReady());
  EXPECT_EQ(fake.loads, (std::vector<std::string>{"beside " + kName64, "beside " + kName32,
                                                  "search " + kName64, "search " + kName32}));
  ASSERT_FALSE(fake.logLines.empty());
  EXPECT_EQ(fake.logLines.front(), (Line{"Load Library (x32)", kName32, 10}));
  adl.reset();

  FakeAdl other;
  other.bySearch = {kName64, kName32};
  auto first = other.Load();
  ASSERT_FALSE(other.logLines.empty());
  EXPECT_EQ(other.logLines.front(), (Line{"Load Library (x64)", kName64, 10}));
}

// Neither name loads: one line says so, and the reason names both.
TEST(AdlLoader, NoLibrary) {
  FakeAdl fake;
  auto adl = fake.Load();
  EXPECT_FALSE(adl->IsLibraryLoaded());
  EXPECT_FALSE(adl->IsReady());
  EXPECT_EQ(adl->GetNumberOfAdapters(), -1);
  EXPECT_EQ(adl->GetAdapterTable(), nullptr);
  EXPECT_EQ(adl->Entry<AdlEntry::ADL2_Overdrive_Caps>(), nullptr);
  ASSERT_EQ(fake.logLines.size(), 1u);
  EXPECT_EQ(fake.logLines[0].label, "Load Library");
  EXPECT_EQ(fake.logLines[0].value.rfind("not found: " + kName64 + " nor " + kName32, 0), 0u)
      << fake.logLines[0].value;
  EXPECT_EQ(fake.logLines[0].colour, 12);
  EXPECT_EQ(adl->NotReadyReason(), "The display library was not found: neither " + kName64 +
                                       " nor " + kName32 +
                                       " is beside the executable or found by the system's search");
}

// Missing names are reported in byte order of their names (not in resolution order, not
// ignoring case), the two first-generation context names never; the loader still gets ready.
TEST(AdlLoader, MissingEntryPointsAreReportedInByteOrder) {
  FakeAdl fake;
  fake.missing = {"ADL2_Overdrive_Caps",          "ADL2_OverdriveN_Test_Set",
                  "ADL2_Display_WriteAndReadI2C", "ADL_Main_Control_Create",
                  "ADL_Main_Control_Destroy",     "ADL2_Overdrive8_Setting_Set",
                  "ADL2_Adapter_Active_Get"};
  auto adl = fake.LoadBeside();
  EXPECT_TRUE(adl->IsReady());
  EXPECT_EQ(fake.logLines, (std::vector<Line>{{"ADL2_Adapter_Active_Get", "Fail", 12},
                                              {"ADL2_Display_WriteAndReadI2C", "Fail", 12},
                                              {"ADL2_Overdrive8_Setting_Set", "Fail", 12},
                                              {"ADL2_OverdriveN_Test_Set", "Fail", 12},
                                              {"ADL2_Overdrive_Caps", "Fail", 12},
                                              {"AdlInitialize", "Number of Adapters = 1", 10}}));
  EXPECT_EQ(adl->Entry<AdlEntry::ADL2_Display_WriteAndReadI2C>(), nullptr);
  EXPECT_NE(adl->Entry<AdlEntry::ADL2_Main_Control_Create>(), nullptr);
  EXPECT_EQ(adl->GetExportedFunctions().count("ADL_Main_Control_Create"), 0u);
  EXPECT_EQ(adl->GetExportedFunctions().at("ADL2_Overdrive_Caps"), nullptr);
}

// Each variant of the library leaves the loader in a defined state; none crashes.
TEST(AdlLoader, ReadyOnlyWithAContextAndATable) {
  struct Case {
    const char* what;
    std::set<std::string> missing;
    std::optional<int> count;
    int createResult;
    int infoResult;
    bool ready;
    int mainControlVersion;
    bool tableFetched;
    std::string reason;  // why it is not ready
  };
  const std::string lib = "The display library " + kName64;
  const auto many = [&](int64_t n) {
    return lib + " reports " + std::to_string(n) +
           " adapters, more than the 1024 a machine can have";
  };
  const Case cases[] = {
      {"healthy", {}, std::nullopt, 0, 0, true, 2, true, ""},
      {"no adapters", {}, 0, 0, 0, false, 2, false, lib + " reports no adapter"},
      {"negative count", {}, -3, 0, 0, false, 2, false, lib + " reports no adapter"},
      {"no count entry point",
       {"ADL2_Adapter_NumberOfAdapters_Get"},
       std::nullopt,
       0,
       0,
       false,
       2,
       false,
       lib + " lacks the entry point ADL2_Adapter_NumberOfAdapters_Get"},
      // Without the table entry point there is nothing to enumerate.
      {"no table entry point",
       {"ADL2_Adapter_AdapterInfo_Get"},
       std::nullopt,
       0,
       0,
       false,
       2,
       false,
       lib + " lacks the entry point ADL2_Adapter_AdapterInfo_Get"},
      // A count above the most logical adapters a machine has (and so a table past 2^31 bytes)
      // is refused before anything is allocated.
      {"most adapters taken", {}, TADL::kMaxAdapters, 0, 0, true, 2, true, ""},
      {"more adapters than a machine has",
       {},
       TADL::kMaxAdapters + 1,
       0,
       0,
       false,
       2,
       false,
       many(TADL::kMaxAdapters + 1)},
      {"count past the table limit",
       {},
       INT_MAX / 1572 + 1,
       0,
       0,
       false,
       2,
       false,
       many(INT_MAX / 1572 + 1)},
      {"largest count", {}, INT_MAX, 0, 0, false, 2, false, many(INT_MAX)},
      {"table refused",
       {},
       std::nullopt,
       0,
       -1,
       false,
       2,
       true,
       lib + " did not hand out its adapter table: ADL2_Adapter_AdapterInfo_Get answered -1"},
      // Results 1 to 4 are successes, with a warning or a mode change.
      {"context and table with warnings", {}, std::nullopt, 1, 4, true, 2, true, ""},
      {"context with a mode change", {}, std::nullopt, 3, 2, true, 2, true, ""},
      {"context refused",
       {},
       std::nullopt,
       -1,
       0,
       false,
       -1,
       false,
       lib + " did not start: ADL2_Main_Control_Create answered -1"},
      {"no context entry point",
       {"ADL2_Main_Control_Create"},
       std::nullopt,
       0,
       0,
       false,
       -1,
       false,
       lib + " lacks the entry point ADL2_Main_Control_Create"},
      {"nothing but the context",
       {"ADL2_Adapter_NumberOfAdapters_Get", "ADL2_Adapter_AdapterInfo_Get",
        "ADL2_Main_Control_Destroy", "ADL2_Overdrive_Caps"},
       std::nullopt,
       0,
       0,
       false,
       2,
       false,
       lib + " lacks the entry point ADL2_Adapter_NumberOfAdapters_Get"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeAdl fake;
    fake.missing = c.missing;
    fake.reportedCount = c.count;
    fake.createResult = c.createResult;
    fake.infoResult = c.infoResult;
    auto adl = fake.LoadBeside();
    EXPECT_TRUE(adl->AreFunctionsLoaded());
    EXPECT_EQ(adl->IsReady(), c.ready);
    EXPECT_EQ(adl->GetMainControlVersion(), c.mainControlVersion);
    EXPECT_EQ(fake.infoCalls, c.tableFetched ? 1 : 0);
    EXPECT_EQ(adl->NotReadyReason(), c.reason);
    adl.reset();
    EXPECT_EQ(fake.frees, 1);
  }
}

TEST(AdlLoader, ProcessWideInstanceIsMadeOnce) {
  TADL** slot = GetADL();
  ASSERT_NE(slot, nullptr);
  TADL* instance = *slot;
  EXPECT_EQ(GetADL(), slot);
  EXPECT_EQ(*GetADL(), instance);
}

TEST(AdlLoader, AllocationCallback) {
  void* block = AdlMemoryAlloc(16);
  ASSERT_NE(block, nullptr);
  AdlMemoryFree(&block);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(AdlMemoryAlloc(-1), nullptr);
  AdlMemoryFree(nullptr);
}

}  // namespace
}  // namespace brumel
