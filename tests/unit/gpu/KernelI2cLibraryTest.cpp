// The tool's own display library over a kernel of the test's own (cards, buses, a bus that
// records its messages): which adapters the loader and the enumerator get from it, how a library
// I2C request becomes kernel messages, what is opened and when, and the reason a failed line
// gives.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "config/Config.h"
#include "config/IniFile.h"
#include "gpu/ADL.h"
#include "gpu/KernelI2cLibrary.h"
#include "gpu/VideoAdapterBuilder.h"

namespace brumel {
namespace {

using plat::I2cAdapterEntry;
using plat::I2cOpenFailure;
using plat::PciDisplayFunction;

struct Message {
  uint16_t address = 0;
  bool read = false;
  std::vector<uint8_t> written;  // a write's bytes
  uint16_t length = 0;
  bool operator==(const Message&) const = default;
};

// What the kernel of a test shows and what it saw.
struct KernelState {
  std::vector<PciDisplayFunction> functions;
  std::vector<I2cAdapterEntry> buses;
  bool hasNodes = true;
  std::map<int, I2cOpenFailure> openFailures;  // bus number -> why it does not open
  bool plainI2c = true;
  int transferError = 0;
  std::map<uint16_t, std::string> names;  // device id -> database name
  std::string release = "6.1.0-test-amd64";

  std::vector<int> opened;  // bus numbers, in the order of the opens
  int functionQueries = 0;
  std::vector<std::vector<Message>> transfers;
};

class FakeBus : public plat::I2cBus {
 public:
  explicit FakeBus(std::shared_ptr<KernelState> s) : s_(std::move(s)) {}
  bool OffersPlainI2c() override {
    ++s_->functionQueries;
    return s_->plainI2c;
  }
  int Transfer(plat::I2cMessage* messages, size_t count) override {
    std::vector<Message> seen;
    for (size_t i = 0; i < count; ++i) {
      Message m{messages[i].Address, messages[i].Read, {}, messages[i].Length};
      if (!m.read) m.written.assign(messages[i].Data, messages[i].Data + messages[i].Length);
      // A read gets 0xA0, 0xA1, ...
      for (uint16_t k = 0; m.read && k < m.length; ++k)
        messages[i].Data[k] = static_cast<uint8_t>(0xA0 + k);
      seen.push_back(m);
    }
    s_->transfers.push_back(seen);
    return s_->transferError;
  }

 private:
  std::shared_ptr<KernelState> s_;
};

class FakeKernel : public plat::KernelI2c {
 public:
  explicit FakeKernel(std::shared_ptr<KernelState> s) : s_(std::move(s)) {}
  std::vector<PciDisplayFunction> DisplayFunctions() override { return s_->functions; }
  std::vector<I2cAdapterEntry> Adapters() override { return s_->buses; }
  bool HasBusNodes() override { return s_->hasNodes; }
  std::unique_ptr<plat::I2cBus> OpenBus(int number, I2cOpenFailure& why, std::string& detail,
                                        std::string& node) override {
    s_->opened.push_back(number);
    node = "/dev/i2c-" + std::to_string(number);
    auto it = s_->openFailures.find(number);
    why = it == s_->openFailures.end() ? I2cOpenFailure::None : it->second;
    detail = why == I2cOpenFailure::None ? "" : "test detail";
    if (why != I2cOpenFailure::None) return nullptr;
    return std::make_unique<FakeBus>(s_);
  }
  std::string KernelRelease() override { return s_->release; }
  std::string DatabaseName(const PciDisplayFunction& f) override {
    auto it = s_->names.find(f.DeviceId);
    return it == s_->names.end() ? std::string() : it->second;
  }

 private:
  std::shared_ptr<KernelState> s_;
};

PciDisplayFunction Function(const std::string& address, uint16_t vendor, uint16_t device,
                            const std::string& driver) {
  PciDisplayFunction f;
  EXPECT_TRUE(plat::ParsePciAddress(address, f)) << address;
  f.VendorId = vendor;
  f.DeviceId = device;
  f.SubsystemVendorId = vendor;
  f.SubsystemId = 0x0E3A;
  f.Revision = 0xC1;
  f.Driver = driver;
  return f;
}

const char kCardA[] = "0000:03:00.0";
const char kCardB[] = "0000:0a:00.0";

// A Linux 6.15 card with the display core: connector, aux, OEM and EEPROM buses.
std::shared_ptr<KernelState> OneCard() {
  auto s = std::make_shared<KernelState>();
  s->functions = {Function(kCardA, 0x1002, 0x73BF, "amdgpu")};
  s->buses = {{0, "AMDGPU DM i2c hw bus 0", kCardA},
              {1, "AMDGPU DM aux hw bus 0", kCardA},
              {5, "AMDGPU DM i2c OEM bus", kCardA},
              {6, "AMDGPU SMU", kCardA}};
  s->names = {{0x73BF, "Radeon RX 6900 XT"}};
  return s;
}

// The system's source where no library file is found: the tool's own library comes next.
class NoFiles : public TSystemAdlSource {
 public:
  using TSystemAdlSource::TSystemAdlSource;
  plat::LibHandle LoadBesideExecutable(const char*) override { return nullptr; }
  plat::LibHandle LoadBySearch(const char*) override { return nullptr; }
};

// A loader and an enumerator over the tool's own library on the state's kernel.
struct BuiltIn {
  explicit BuiltIn(std::shared_ptr<KernelState> state) : s(std::move(state)) {
    auto source = std::make_unique<NoFiles>(
        [st = s] { return std::make_unique<FakeKernel>(st); },
        [this](const std::string& text) { said.push_back(text); });
    adl = std::make_unique<TADL>(std::move(source),
                                 [this](const std::string& label, const std::string& value,
                                        uint16_t) { log.push_back(label + ": " + value); });
    builder = std::make_unique<TVideoAdapterBuilder>(adl.get(), &config);
  }
  IVideoAdapter& Adapter(size_t i = 0) { return *builder->GetAdapters()->at(i); }

  std::shared_ptr<KernelState> s;
  std::vector<std::string> said;
  std::vector<std::string> log;
  TConfig config{""};
  std::unique_ptr<TADL> adl;
  std::unique_ptr<TVideoAdapterBuilder> builder;
};

// The adapters are the AMD functions bound to amdgpu, in the kernel's (PCI) order, named from
// the database or by their ids; each has the library's adapter record, no tuning values and a
// configuration section.
TEST(KernelI2cLibrary, AdaptersAreTheAmdgpuCardsWithTheirRecordsAndSections) {
  test::TempFolder dir;
  auto s = std::make_shared<KernelState>();
  s->functions = {Function("0000:01:00.0", 0x10DE, 0x2484, "nvidia"),
                  Function(kCardA, 0x1002, 0x73BF, "amdgpu"),
                  Function("0000:05:00.0", 0x1002, 0x6798, "radeon"),
                  Function(kCardB, 0x1002, 0x67DF, "amdgpu")};
  s->names = {{0x73BF, "Radeon RX 6900 XT"}, {0x2484, "GA104 [GeForce RTX 3070]"}};
  std::vector<std::string> log;
  TADL adl(std::make_unique<NoFiles>([s] { return std::make_unique<FakeKernel>(s); }),
           [&](const std::string& label, const std::string& value, uint16_t) {
             log.push_back(label + ": " + value);
           });
  ASSERT_TRUE(adl.IsReady());
  EXPECT_EQ(log.front(), "Load Library (built-in): graphics cards and I2C buses of the kernel");
  ASSERT_EQ(adl.GetNumberOfAdapters(), 2);
  const AdapterInfo& a = adl.GetAdapterTable()[0];
  const AdapterInfo& b = adl.GetAdapterTable()[1];
  EXPECT_STREQ(a.AdapterName, "Radeon RX 6900 XT");
  EXPECT_STREQ(a.UDID, "PCI_VEN_1002&DEV_73BF&SUBSYS_0E3A1002&REV_C1_0000:03:00.0");
  EXPECT_EQ(a.BusNumber, 3);
  EXPECT_STREQ(b.AdapterName, "Graphics adapter 1002:67DF at 0000:0a:00.0");
  EXPECT_EQ(b.BusNumber, 10);
  EXPECT_EQ(b.DeviceNumber, 0);
  EXPECT_EQ(b.FunctionNumber, 0);
  // The adapter, context and I2C entry points only.
  EXPECT_NE(adl.Entry<AdlEntry::ADL2_Display_WriteAndReadI2C>(), nullptr);
  EXPECT_EQ(adl.Entry<AdlEntry::ADL2_OverdriveN_CapabilitiesX2_Get>(), nullptr);
  EXPECT_EQ(adl.Entry<AdlEntry::ADL2_Overdrive8_Init_SettingX2_Get>(), nullptr);

  const std::string path = dir.File("BrumelISP.ini");
  TConfig config(path);
  TVideoAdapterBuilder builder(&adl, &config);
  ASSERT_EQ(builder.GetAdapters()->size(), 2u);
  IVideoAdapter& first = *builder.GetActiveAdapter();
  EXPECT_EQ(first.GetAdapterName(), "Radeon RX 6900 XT");
  EXPECT_EQ(first.GetUniqueName(), "3_PCI_VEN_1002&DEV_73BF&SUBSYS_0E3A1002&REV_C1_0000:03:00.0");
  for (int32_t id = 0; id < kSettingCount; ++id) {
    const ADL_ODRange* range = first.GetSettingRange(static_cast<_ADL_SETTING_ID>(id));
    ASSERT_NE(range, nullptr);
    EXPECT_TRUE(std::isnan(range->Default)) << id;
  }
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("Adapters", "1", ""),
            "10_PCI_VEN_1002&DEV_67DF&SUBSYS_0E3A1002&REV_C1_0000:0a:00.0");
  const std::string section = ini.ReadString("Adapters", "0", "");
  EXPECT_EQ(ini.ReadString(section, "AdapterName", ""), "Radeon RX 6900 XT");
  EXPECT_EQ(ini.ReadInteger(section, "UserGpuClock", 0), -1);
  EXPECT_EQ(ini.ReadInteger(section, "PowerLimit2", 0), -1);
}

// One request, one transaction on the card's OEM bus, to 0x36: a write is the offset byte and
// the data in one message; a read writes the offset and reads after a repeated start.
TEST(KernelI2cLibrary, RequestsBecomeKernelMessagesOnTheOemBus) {
  BuiltIn lib(OneCard());
  IVideoAdapter& card = lib.Adapter();
  uint8_t data[12] = {0x00, 0x12, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04};
  EXPECT_TRUE(card.I2CWriteLine(0x6C, 0xA6, data, 8, 1));
  EXPECT_TRUE(card.I2CWriteLine(0x6C, 0x31, data, 0, 1));
  uint8_t reply[12] = {};
  EXPECT_TRUE(card.I2CReadLine(0x6C, 0x00, reply, 12, 1));
  EXPECT_EQ(reply[0], 0xA0);
  EXPECT_EQ(reply[11], 0xAB);

  const std::vector<std::vector<Message>> expected = {
      {{0x36, false, {0xA6, 0x00, 0x12, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04}, 9}},
      {{0x36, false, {0x31}, 1}},
      {{0x36, false, {0x00}, 1}, {0x36, true, {}, 12}},
  };
  EXPECT_EQ(lib.s->transfers, expected);
  // The one bus opened, once; plain I2C asked before the first transfer, once.
  EXPECT_EQ(lib.s->opened, std::vector<int>{5});
  EXPECT_EQ(lib.s->functionQueries, 1);
  EXPECT_TRUE(lib.said.empty());
  EXPECT_EQ(lib.adl->I2cLineReason(0, 1), "");
}

// Requests that would reach anything but the controller at its offset never open the bus.
TEST(KernelI2cLibrary, RequestsItCannotServeAreRefusedWithoutABusOpened) {
  BuiltIn lib(OneCard());
  TADL& adl = *lib.adl;
  auto transfer = adl.Entry<AdlEntry::ADL2_Display_WriteAndReadI2C>();
  ASSERT_NE(transfer, nullptr);
  uint8_t data[16] = {};
  const auto request = [&](int32_t address, int32_t offset, int32_t action, int32_t size,
                           bool withData = true) {
    ADLI2C r{};
    r.Size = sizeof r;
    r.Line = kAdlI2cLineOem;
    r.Address = address;
    r.Offset = offset;
    r.Action = action;
    r.Speed = kAdlI2cSpeedKHz;
    r.DataSize = size;
    r.Data = withData ? reinterpret_cast<char*>(data) : nullptr;
    return r;
  };
  const struct {
    const char* what;
    ADLI2C r;
  } cases[] = {
      {"another address", request(0xA0, 0, kAdlI2cActionRead, 4)},
      {"an address out of a byte", request(0x16C, 0, kAdlI2cActionWrite, 4)},
      {"an offset beyond a byte", request(0x6C, 0x100, kAdlI2cActionWrite, 4)},
      {"neither read nor write", request(0x6C, 0, 3, 4)},
      {"a read of nothing", request(0x6C, 0, kAdlI2cActionRead, 0)},
      {"a negative size", request(0x6C, 0, kAdlI2cActionWrite, -1)},
      {"more than a message carries", request(0x6C, 0, kAdlI2cActionWrite, kMaxKernelI2cData + 1)},
      {"no data", request(0x6C, 0, kAdlI2cActionRead, 4, false)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ADLI2C r = c.r;
    EXPECT_NE(transfer(adl.GetContext(), 0, &r), kAdlOk);
  }
  ADLI2C wrongSize = request(0x6C, 0, kAdlI2cActionRead, 4);
  wrongSize.Size = sizeof(ADLI2C) == 40 ? 32 : 40;  // the record of the other pointer size
  EXPECT_NE(transfer(adl.GetContext(), 0, &wrongSize), kAdlOk);
  EXPECT_NE(transfer(adl.GetContext(), 0, nullptr), kAdlOk);
  EXPECT_NE(transfer(adl.GetContext(), 1, &wrongSize), kAdlOk);  // no second card
  EXPECT_TRUE(lib.s->opened.empty());
  EXPECT_TRUE(lib.s->transfers.empty());
}

// A transfer the bus refuses (no acknowledge, a time-out) fails as a refused library call: no
// reason is given, and the next transfer goes out on the same open bus.
TEST(KernelI2cLibrary, ARefusedTransferFailsQuietly) {
  auto s = OneCard();
  s->transferError = EIO;
  BuiltIn lib(s);
  uint8_t data[4] = {};
  EXPECT_FALSE(lib.Adapter().I2CWriteLine(0x6C, 0xA4, data, 4, 1));
  s->transferError = 0;
  EXPECT_TRUE(lib.Adapter().I2CReadLine(0x6C, 0, data, 4, 1));
  EXPECT_EQ(s->transfers.size(), 2u);
  EXPECT_EQ(s->opened, std::vector<int>{5});
  EXPECT_TRUE(lib.said.empty());
}

// Each way a line cannot work gives one reason, said once however many transfers fail, and
// nothing but the chosen bus is ever opened.
TEST(KernelI2cLibrary, AFailedLineSaysWhyOnce) {
  const struct {
    const char* what;
    std::function<void(KernelState&)> setUp;
    int line;
    std::vector<int> opened;
    std::vector<std::string> reasonHas;
  } cases[] = {
      {"line 4", [](KernelState&) {}, 4, {},
       {"Line 4 (/I 3, the display library's third OEM line) has no counterpart under Linux",
        "/I 2"}},
      {"no OEM bus",
       [](KernelState& s) { s.buses.erase(s.buses.begin() + 2); },
       1,
       {},
       {"Radeon RX 6900 XT (0000:03:00.0) has no OEM I2C bus under Linux 6.1.0-test-amd64",
        "its buses: i2c-0 \"AMDGPU DM i2c hw bus 0\", i2c-1 \"AMDGPU DM aux hw bus 0\", i2c-6 "
        "\"AMDGPU SMU\".",
        "\"AMDGPU DM i2c OEM bus\" (Linux 6.15 or later", "amdgpu.dc=0"}},
      {"no bus node at all",
       [](KernelState& s) {
         s.hasNodes = false;
         s.openFailures[5] = I2cOpenFailure::Missing;
       },
       1,
       {5},
       {"the i2c-dev module is not loaded", "modprobe i2c-dev"}},
      {"this bus's node missing",
       [](KernelState& s) { s.openFailures[5] = I2cOpenFailure::Missing; },
       1,
       {5},
       {"/dev/i2c-5 (the \"AMDGPU DM i2c OEM bus\" bus of Radeon RX 6900 XT (0000:03:00.0)) does "
        "not exist"}},
      {"permission denied",
       [](KernelState& s) { s.openFailures[5] = I2cOpenFailure::Denied; },
       1,
       {5},
       {"Permission denied on /dev/i2c-5", "70-brumelisp.rules", "README"}},
      {"not a bus node",
       [](KernelState& s) { s.openFailures[5] = I2cOpenFailure::NotANode; },
       1,
       {5},
       {"/dev/i2c-5 (the", "is not the bus's device node (test detail): it was not opened."}},
      {"no plain I2C",
       [](KernelState& s) { s.plainI2c = false; },
       1,
       {5},
       {"does not offer plain I2C transfers"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = OneCard();
    c.setUp(*s);
    BuiltIn lib(s);
    uint8_t data[8] = {};
    for (int i = 0; i < 3; ++i) {
      EXPECT_FALSE(lib.Adapter().I2CWriteLine(0x6C, 0xA4, data, 8, c.line));
      EXPECT_FALSE(lib.Adapter().I2CReadLine(0x6C, 0, data, 8, c.line));
    }
    EXPECT_TRUE(s->transfers.empty());
    EXPECT_EQ(s->opened, c.opened);
    ASSERT_EQ(lib.said.size(), 1u);
    for (const std::string& part : c.reasonHas)
      EXPECT_NE(lib.said[0].find(part), std::string::npos) << lib.said[0] << "\nlacks: " << part;
    EXPECT_EQ(lib.adl->I2cLineReason(0, c.line), lib.said[0]);
  }
}

// A caller that asked for the reason (to say it where it reports the connection) is the only one
// that says it: the failed transfers after it stay quiet.
TEST(KernelI2cLibrary, AReasonAskedForIsNotSaidAgain) {
  auto s = OneCard();
  s->openFailures[5] = I2cOpenFailure::Denied;
  BuiltIn lib(s);
  const std::string reason = lib.adl->I2cLineReason(0, 1);
  EXPECT_NE(reason.find("Permission denied on /dev/i2c-5"), std::string::npos) << reason;
  uint8_t data[4] = {};
  EXPECT_FALSE(lib.Adapter().I2CReadLine(0x6C, 0, data, 4, 1));
  EXPECT_TRUE(lib.said.empty());
  EXPECT_EQ(s->opened, std::vector<int>{5});
}

// Two cards: a transfer goes to the OEM bus of the card its adapter index names.
TEST(KernelI2cLibrary, EachCardUsesItsOwnBus) {
  auto s = OneCard();
  s->functions.push_back(Function(kCardB, 0x1002, 0x73BF, "amdgpu"));
  s->buses.push_back({2, "AMDGPU DM i2c OEM bus", kCardB});
  BuiltIn lib(s);
  ASSERT_EQ(lib.builder->GetAdapters()->size(), 2u);
  uint8_t data[4] = {};
  EXPECT_TRUE(lib.Adapter(1).I2CReadLine(0x6C, 0, data, 4, 1));
  EXPECT_TRUE(lib.Adapter(0).I2CReadLine(0x6C, 0, data, 4, 1));
  EXPECT_EQ(s->opened, (std::vector<int>{2, 5}));
}

}  // namespace
}  // namespace brumel
