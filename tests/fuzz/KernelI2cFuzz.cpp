// What the tool's own display library takes from the system: the text of a PCI id database, PCI
// addresses as the kernel names its devices, cards and buses with any names and owners, and the
// I2C requests a caller hands in. The bus it opens must be the chosen OEM bus of the card the
// request names, on line 1 only; every message goes to the controller's address and stays
// within the caller's data.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "gpu/KernelI2cLibrary.h"
#include "platform/KernelI2c.h"

namespace {

using plat::I2cAdapterEntry;
using plat::PciDisplayFunction;

struct Seen {
  int allowedBus = -1;  // the bus the current request may open
  bool opened = false;
  size_t dataSize = 0;
};

class Bus : public plat::I2cBus {
 public:
  Bus(Seen& seen, bool plain, int error) : seen_(seen), plain_(plain), error_(error) {}
  bool OffersPlainI2c() override { return plain_; }
  int Transfer(plat::I2cMessage* messages, size_t count) override {
    if (count < 1 || count > 2) std::abort();
    for (size_t i = 0; i < count; ++i) {
      const plat::I2cMessage& m = messages[i];
      if (m.Address != brumel::kControllerAddress7 || m.Length > plat::kMaxI2cMessageBytes ||
          (m.Length > 0 && !m.Data))
        std::abort();
      // A read fills the caller's bytes, exactly as many as it asked for.
      if (m.Read && (i != 1 || m.Length != seen_.dataSize)) std::abort();
      for (uint16_t k = 0; m.Read && k < m.Length; ++k) m.Data[k] = 0x5A;
    }
    if (count == 2 && messages[0].Length != 1) std::abort();
    if (count == 1 && messages[0].Length != seen_.dataSize + 1) std::abort();
    return error_;
  }

 private:
  Seen& seen_;
  bool plain_;
  int error_;
};

class Kernel : public plat::KernelI2c {
 public:
  Kernel(Seen& seen, FuzzedDataProvider& in) : seen_(seen) {
    const int functions = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < functions; ++i) {
      PciDisplayFunction f;
      plat::ParsePciAddress(in.ConsumeBool() ? in.ConsumeRandomLengthString(14)
                                             : "0000:0" + std::to_string(i) + ":00.0",
                            f);
      f.VendorId = in.ConsumeBool() ? 0x1002 : in.ConsumeIntegral<uint16_t>();
      f.DeviceId = in.ConsumeIntegral<uint16_t>();
      f.Driver = in.ConsumeBool() ? "amdgpu" : in.ConsumeRandomLengthString(8);
      functions_.push_back(f);
    }
    const int buses = in.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < buses; ++i) {
      I2cAdapterEntry bus;
      bus.Number = in.ConsumeIntegralInRange(-1, 40);
      const size_t pick = in.ConsumeIntegralInRange<size_t>(0, std::size(brumel::kOemBusNames));
      bus.Name = pick < std::size(brumel::kOemBusNames) ? brumel::kOemBusNames[pick]
                                                        : in.ConsumeRandomLengthString(40);
      bus.Card = !functions_.empty() && in.ConsumeBool()
                     ? functions_[in.ConsumeIntegralInRange<size_t>(0, functions_.size() - 1)]
                           .Address
                     : in.ConsumeRandomLengthString(14);
      buses_.push_back(bus);
    }
    hasNodes_ = in.ConsumeBool();
    failure_ = static_cast<plat::I2cOpenFailure>(in.ConsumeIntegralInRange(0, 4));
    plain_ = in.ConsumeBool();
    error_ = in.ConsumeBool() ? 0 : 5;
    name_ = in.ConsumeRandomLengthString(300);
  }
  std::vector<PciDisplayFunction> DisplayFunctions() override { return functions_; }
  std::vector<I2cAdapterEntry> Adapters() override { return buses_; }
  bool HasBusNodes() override { return hasNodes_; }
  std::unique_ptr<plat::I2cBus> OpenBus(int number, plat::I2cOpenFailure& why,
                                        std::string& detail, std::string& node) override {
    if (number != seen_.allowedBus || seen_.opened) std::abort();
    seen_.opened = true;
    node = "/dev/i2c-" + std::to_string(number);
    why = failure_;
    detail = "detail";
    if (why != plat::I2cOpenFailure::None) return nullptr;
    return std::make_unique<Bus>(seen_, plain_, error_);
  }
  std::string KernelRelease() override { return "6.1"; }
  std::string DatabaseName(const PciDisplayFunction&) override { return name_; }

 private:
  Seen& seen_;
  std::vector<PciDisplayFunction> functions_;
  std::vector<I2cAdapterEntry> buses_;
  bool hasNodes_ = true;
  plat::I2cOpenFailure failure_ = plat::I2cOpenFailure::None;
  bool plain_ = true;
  int error_ = 0;
  std::string name_;
};

void Database(FuzzedDataProvider& in) {
  const auto vendor = in.ConsumeIntegral<uint16_t>();
  const auto device = in.ConsumeIntegral<uint16_t>();
  const auto subVendor = in.ConsumeIntegral<uint16_t>();
  const auto sub = in.ConsumeIntegral<uint16_t>();
  const std::string text = in.ConsumeRemainingBytesAsString();
  const std::string name = plat::PciDatabaseName(text, vendor, device, subVendor, sub);
  if (name.size() > text.size()) std::abort();
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
  }
}

void Address(FuzzedDataProvider& in) {
  const std::string text = in.ConsumeRemainingBytesAsString();
  PciDisplayFunction f;
  if (plat::ParsePciAddress(text, f) && (f.Address != text || f.Device > 31 || f.Function > 7))
    std::abort();
}

void Library(FuzzedDataProvider& in) {
  Seen seen;
  auto kernel = std::make_unique<Kernel>(seen, in);
  brumel::TKernelI2cLibrary library(std::move(kernel), [](const std::string&) {});
  const auto& cards = library.Cards();
  static std::vector<char> data(plat::kMaxI2cMessageBytes + 2);
  const int requests = in.ConsumeIntegralInRange(0, 8);
  for (int i = 0; i < requests; ++i) {
    const int index = in.ConsumeIntegralInRange(-1, 5);
    brumel::ADLI2C r{};
    r.Size = in.ConsumeBool() ? static_cast<int32_t>(sizeof r) : in.ConsumeIntegral<int32_t>();
    r.Line = in.ConsumeBool() ? brumel::kAdlI2cLineOem : in.ConsumeIntegral<int32_t>();
    r.Address = in.ConsumeBool() ? 0x6C : in.ConsumeIntegral<int32_t>();
    r.Offset = in.ConsumeIntegralInRange(-1, 256);
    r.Action = in.ConsumeIntegralInRange(0, 3);
    r.DataSize = in.ConsumeIntegralInRange(-2, static_cast<int32_t>(data.size()) - 1);
    r.Data = in.ConsumeBool() ? data.data() : nullptr;
    // Only line 1 of a card with an OEM bus may open it, and only the first time.
    const bool known = index >= 0 && static_cast<size_t>(index) < cards.size();
    seen.allowedBus = known && r.Line == brumel::kAdlI2cLineOem && !cards[index].Tried
                          ? cards[index].OemBus
                          : -2;
    seen.opened = false;
    seen.dataSize = r.DataSize < 0 ? 0 : static_cast<size_t>(r.DataSize);
    library.WriteAndReadI2C(index, in.ConsumeBool() ? &r : nullptr);
  }
  seen.allowedBus = -2;
  for (size_t i = 0; i < cards.size(); ++i) {
    if (!cards[i].Tried) seen.allowedBus = cards[i].OemBus;
    seen.opened = false;
    library.LineReason(static_cast<int>(i), in.ConsumeBool() ? 1 : 4);
    seen.allowedBus = -2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
      Database(in);
      break;
    case 1:
      Address(in);
      break;
    default:
      Library(in);
      break;
  }
  return 0;
}
