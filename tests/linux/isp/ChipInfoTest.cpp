// The connection step and the chip information display against the simulated controller: the
// substitute hidapi beside the test executable presents the scenario each case writes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "common/TestSupport.h"
#include "isp/ChipLink.h"
#include "isp/ISPLdCMD.h"
#include "isp/RunOptions.h"

namespace brumel {
namespace {

using test::TempFolder;

constexpr int32_t kBenchDeviceId = 0x0416A316;

class ChipInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    RunOptions() = RunOptionsRecord{};
    AdapterDisplayName().clear();
    unsetenv("BRUMEL_SIM_LOG");
    UseScenario("");
  }
  void TearDown() override {
    SetControllerChannel(nullptr);  // closes the device before the next case changes the bench
    unsetenv("BRUMEL_SIM_SCENARIO");
    RunOptions() = RunOptionsRecord{};
  }

  // A scenario file of its own per text, so the simulator rebuilds the bench from it.
  void UseScenario(const std::string& text) {
    const std::string path = dir_.File("scenario" + std::to_string(++scenarios_) + ".ini");
    TempFolder::Write(path, text);
    setenv("BRUMEL_SIM_SCENARIO", path.c_str(), 1);
  }

  bool Open(int32_t interfaceNumber, bool hasId, int32_t id, std::string* printed) {
    RunOptionsRecord& o = RunOptions();
    o.InterfaceNumber = interfaceNumber;
    o.HasDeviceId = hasId;
    o.DeviceId = id;
    ::testing::internal::CaptureStdout();
    const bool ok = OpenControllerLink();
    *printed = ::testing::internal::GetCapturedStdout();
    return ok;
  }

  std::string Display() {
    ::testing::internal::CaptureStdout();
    PrintChipInformation();
    return ::testing::internal::GetCapturedStdout();
  }

  // Connects over USB to the bench and returns the display.
  std::string DisplayOverUsb() {
    std::string printed;
    EXPECT_TRUE(Open(0, true, kBenchDeviceId, &printed));
    EXPECT_EQ(printed, "");
    return Display();
  }

  TempFolder dir_;
  int scenarios_ = 0;
};

TEST_F(ChipInfo, HealthyControllerOverUsb) {
  EXPECT_EQ(DisplayOverUsb(),
            "[ Configuration ]\n"
            "Program Interface ...... USB\n"
            "\n"
            "[ Chip - Current]\n"
            "FW Version ............. 0x00010203\n"
            "FW Release ............. 0x00000007\n"
            "FW Feature ............. 0x00000001\n"  // feature is printed before hardware
            "HW Version ............. 0x00000002\n"
            "Device ID .............. 0x00235100\n"
            "Flash Mode ............. APROM (0x20)\n"
            "Config0 : Config1 ...... 0xFFFFFF7F : 0x0001F000\n"
            "ROM Data ............... LDROM[ OK ] APROM[ OK ]\n"
            "\n");
}

struct LineCase {
  const char* name;
  const char* scenario;
  const char* line;    // expected in the display ("" for none)
  const char* absent;  // must not appear ("" for none)
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class ChipInfoLines : public ChipInfo, public ::testing::WithParamInterface<LineCase> {};

TEST_P(ChipInfoLines, ShowsValue) {
  const LineCase& c = GetParam();
  UseScenario(c.scenario);
  const std::string out = DisplayOverUsb();
  if (*c.line) {
    EXPECT_NE(out.find(c.line), std::string::npos) << out;
  }
  if (*c.absent) {
    EXPECT_EQ(out.find(c.absent), std::string::npos) << out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Display, ChipInfoLines,
    ::testing::Values(LineCase{"VersionAboveMarkKeepsLowByte", "[Identity]\nVersion=F0000012\n",
                               "FW Version ............. 0x00000012\n", ""},
                      LineCase{"VersionAtMarkUnchanged", "[Identity]\nVersion=F0000000\n",
                               "FW Version ............. 0xF0000000\n", ""},
                      LineCase{"VersionTopByteFF", "[Identity]\nVersion=FFFFFF34\n",
                               "FW Version ............. 0x00000034\n", ""},
                      LineCase{"FlashModeLdrom02", "[Identity]\nFlashMode=02\n",
                               "Flash Mode ............. LDROM (0x02)\n", ""},
                      LineCase{"FlashModeLdrom10", "[Identity]\nFlashMode=10\n",
                               "Flash Mode ............. LDROM (0x10)\n", ""},
                      LineCase{"FlashModeUnknown", "[Identity]\nFlashMode=01\n",
                               "Flash Mode ............. Unknown (0x01)\n", ""},
                      LineCase{"LdromEmpty", "[Identity]\nLdromWord=FFFFFFFF\nApromWord=00000000\n",
                               "ROM Data ............... LDROM[ Empty ] APROM[ OK ]\n", ""},
                      LineCase{"ApromEmpty", "[Identity]\nLdromWord=00000001\nApromWord=FFFFFFFF\n",
                               "ROM Data ............... LDROM[ OK ] APROM[ Empty ]\n", ""}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.name; });

// /I 1 sets up no link: the configuration section still shows the images, and every chip value
// appears in its failure form.
TEST_F(ChipInfo, I2cInterfaceShowsImagesAndFailureForms) {
  const std::string aprom = dir_.File("a.bin"), ldrom = dir_.File("b.bin");
  TempFolder::Write(aprom, "abc");
  TempFolder::Write(ldrom, std::string(258, '\xFF'));
  RunOptionsRecord& o = RunOptions();
  o.HasApromFile = o.HasLdromFile = true;
  o.ApromFile = aprom;
  o.LdromFile = ldrom;

  std::string printed;
  EXPECT_TRUE(Open(1, false, 0, &printed));
  EXPECT_EQ(printed, "");
  ASSERT_NE(ControllerChannel(), nullptr);
  EXPECT_EQ(ControllerChannel()->GetInterface(), ISPLdCMD::kNoLink);
  EXPECT_EQ(Display(),
            "[ Configuration ]\n"
            "Program Interface ...... I2C\n"
            "APROM file size ........ 3 bytes (0x3)\n"
            "APROM file checksum .... 0126\n"
            "\n"
            "LDROM file size ........ 258 bytes\n"
            "LDROM file checksum .... 00FE\n"
            "[ Chip - Current]\n"
            "FW Version ............. 0x00000000\n"
            "FW Release ............. 0x00000000\n"
            "FW Feature ............. 0x00000000\n"
            "HW Version ............. 0x00000000\n"
            "Device ID .............. 0x00000000\n"
            "Flash Mode ............. Unknown (0x00)\n"
            "Config0 : Config1 ...... 0xFFFFFFFF : 0xFFFFFFFF\n"
            "\n"
            "No controller answered on I2C: no link is set up for it; /I 2 and /I 3 reach the "
            "controller over an I2C line of a graphics card\n");
}

TEST_F(ChipInfo, ImageThatIsAFolderShowsOnlyTheLoaderMessage) {
  RunOptionsRecord& o = RunOptions();
  o.HasApromFile = true;
  o.ApromFile = dir_.File("");  // the temp folder itself
  std::string printed;
  ASSERT_TRUE(Open(1, false, 0, &printed));
  const std::string out = Display();
  EXPECT_EQ(out.rfind("[ Configuration ]\nProgram Interface ...... I2C\nTHis is a folder\n\n", 0),
            0u)
      << out;
  EXPECT_EQ(out.find("APROM file"), std::string::npos) << out;
}

TEST_F(ChipInfo, AdapterLineFollowsInterfaceWhenNamed) {
  AdapterDisplayName() = "Radeon Sim";
  std::string printed;
  ASSERT_TRUE(Open(1, false, 0, &printed));
  const std::string out = Display();
  EXPECT_EQ(out.rfind("[ Configuration ]\nProgram Interface ...... I2C\n"
                      "Adapter ................ Radeon Sim\n\n",
                      0),
            0u)
      << out;
}

TEST_F(ChipInfo, NoChannelPrintsNoChipValues) {
  SetControllerChannel(nullptr);
  RunOptions().InterfaceNumber = 0;
  EXPECT_EQ(Display(),
            "[ Configuration ]\nProgram Interface ...... USB\n\n[ Chip - Current]\n\n"
            "No controller answered on USB: no chip value above was read\n");
}

// The display's verdict: one accepted reply is an answer; none at all is not.
TEST_F(ChipInfo, TheDisplayTellsWhetherTheControllerAnswered) {
  std::string printed;
  ASSERT_TRUE(Open(0, true, kBenchDeviceId, &printed));
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(PrintChipInformation());
  EXPECT_EQ(::testing::internal::GetCapturedStdout().find("No controller answered"),
            std::string::npos);
  SetControllerChannel(nullptr);

  // Only the last query (ROM state) is answered: still an answer.
  UseScenario("[Fault]\nKind=badchecksum\nCount=8\n");
  ASSERT_TRUE(Open(0, true, kBenchDeviceId, &printed));
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(PrintChipInformation());
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("ROM Data"), std::string::npos);
}

// ---- connection step ----

TEST_F(ChipInfo, UsbWithoutDeviceIdIsFalseAndSaysWhatIsMissing) {
  const std::string line =
      "The USB link needs the device id: add /ID with the controller's vendor and product id, "
      "e.g. /ID 0416A316\n";
  std::string printed;
  EXPECT_FALSE(Open(0, false, 0, &printed));
  EXPECT_EQ(printed, line);
  EXPECT_FALSE(Open(0, true, -1, &printed));
  EXPECT_EQ(printed, line);
}

TEST_F(ChipInfo, UsbOpensFallbackDeviceSilently) {
  std::string printed;
  EXPECT_TRUE(Open(0, true, 0x12345678, &printed));
  EXPECT_EQ(printed, "");
  ASSERT_NE(ControllerChannel(), nullptr);
  EXPECT_TRUE(ControllerChannel()->IsConnected());
  EXPECT_EQ(ControllerChannel()->GetOpenedProductId(), 0xA316u);
}

// The status line, then why: which id was looked for and what the controller's vendors have on
// the bus; a device found but not opened, with the system's reason.
TEST_F(ChipInfo, AFailedUsbConnectionSaysWhy) {
  const std::string fail = "USB Connection                    [ Fail ]\n";
  const struct {
    const char* what;
    const char* scenario;
    int32_t id;
    std::string reason;
  } cases[] = {
      {"no device of the vendors", "[Device]\nVendorId=1234\nProductId=5678\n", 0x11112222,
       "No USB HID device 1111:2222 is present, nor the fallback 0416:A316; no other device of "
       "vendor 1111 or 0416 is present"},
      {"the vendor's other products",
       "[Device]\nCount=2\nVendorId=0416\nProductId=5020\nProductId2=5021\n", 0x04163F00,
       "No USB HID device 0416:3F00 is present, nor the fallback 0416:A316; other devices of "
       "vendor 0416: 0416:5020, 0416:5021"},
      {"the fallback id itself", "[Device]\nVendorId=0416\nProductId=5020\n", 0x0416A316,
       "No USB HID device 0416:A316 is present; other devices of vendor 0416: 0416:5020"},
      {"a node the user may not open", "[Device]\nOpenError=EACCES\n", kBenchDeviceId,
       "Cannot open /dev/hidraw-sim0: permission denied; the udev rule in the README (\"Access "
       "to the controller\") gives the user at the seat access"},
      {"a node another program holds", "[Device]\nOpenError=EBUSY\n", kBenchDeviceId,
       "Cannot open /dev/hidraw-sim0: the device is busy (another program holds it)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UseScenario(c.scenario);
    std::string printed;
    EXPECT_FALSE(Open(0, true, c.id, &printed));
    EXPECT_EQ(printed, fail + c.reason + "\n");
    ASSERT_NE(ControllerChannel(), nullptr);
    EXPECT_FALSE(ControllerChannel()->IsConnected());
    SetControllerChannel(nullptr);
  }
}

TEST_F(ChipInfo, ConnectionStepReplacesTheChannel) {
  std::string printed;
  ASSERT_TRUE(Open(0, true, kBenchDeviceId, &printed));
  ASSERT_TRUE(ControllerChannel()->IsConnected());
  ASSERT_TRUE(Open(1, false, 0, &printed));
  EXPECT_FALSE(ControllerChannel()->IsConnected());
  EXPECT_EQ(ControllerChannel()->GetInterface(), ISPLdCMD::kNoLink);
}

struct GpuCase {
  int32_t interfaceNumber;
  int line;
};

class ChipInfoGpu : public ChipInfo, public ::testing::WithParamInterface<GpuCase> {};

// With no display library beside the tests (and no AMD card in the kernel's view) the
// enumerator finds no adapter.
TEST_P(ChipInfoGpu, SetsI2cTargetAndReportsNoDisplayLibrary) {
  std::string printed;
  EXPECT_TRUE(Open(GetParam().interfaceNumber, false, 0, &printed));
  EXPECT_EQ(printed,
            "Can't find adapter\nThe display library was not found: neither "
            "libatiadlxx.so nor libatiadlxy.so is beside the executable or found by the "
            "system's search, and the kernel shows no AMD graphics card bound to amdgpu\n");
  ISPLdCMD* channel = ControllerChannel();
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(channel->GetInterface(), ISPLdCMD::kGpuI2c);
  EXPECT_EQ(channel->GetI2cAdapterIndex(), 0);
  EXPECT_EQ(channel->GetI2cAddress(), 0x6C);
  EXPECT_EQ(channel->GetI2cLine(), GetParam().line);
  EXPECT_FALSE(channel->IsConnected());
  EXPECT_EQ(AdapterDisplayName(), "");
}

INSTANTIATE_TEST_SUITE_P(Connect, ChipInfoGpu, ::testing::Values(GpuCase{2, 1}, GpuCase{3, 4}),
                         [](const ::testing::TestParamInfo<GpuCase>& info) {
                           return "Interface" + std::to_string(info.param.interfaceNumber);
                         });

}  // namespace
}  // namespace brumel
