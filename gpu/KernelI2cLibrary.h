// A display library of the tool's own, for a system where no display library loads but the
// kernel offers the graphics cards' I2C buses (Linux with amdgpu). It stands behind the
// loader's library source like a loaded library: the adapters are the AMD graphics cards the
// kernel lists, one logical adapter each, and the library's first OEM line (line 1, the tool's
// /I 2) is the card's OEM bus, reached through its kernel node. It answers the context, adapter
// and I2C entry points and lacks every tuning one, so the adapters it gives report no tuning
// values.
//
// Nothing but the chosen bus of the card a transfer names is ever opened, and only the
// controller's address is ever sent to: no scan, no probe. The buses that hold the board's
// EEPROMs ("AMDGPU SMU") and the display connectors' buses are never opened.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gpu/AdlInterface.h"
#include "platform/KernelI2c.h"

namespace brumel {

// The library's numbering of I2C lines: 1 is the first OEM line, 4 the third.
inline constexpr int32_t kAdlI2cLineOem = 1;
inline constexpr int32_t kAdlI2cLineOem3 = 4;
// The LED controller's 7-bit address (0x6C in the library's form).
inline constexpr uint16_t kControllerAddress7 = 0x36;
// Data bytes one request may carry: a message's bytes through the kernel, less the offset byte.
inline constexpr int32_t kMaxKernelI2cData = static_cast<int32_t>(plat::kMaxI2cMessageBytes) - 1;

// The names amdgpu gives a card's OEM bus, in the order they are preferred: the display core's
// (Linux 6.15 on), the one it registers on Polaris, and the two without the display core
// (amdgpu.dc=0; the second with amdgpu.hw_i2c=1), where the OEM line is line 0x97.
inline constexpr const char* kOemBusNames[] = {
    "AMDGPU DM i2c OEM bus",
    "AMDGPU i2c bit bus OEM 0x97",
    "AMDGPU i2c bit bus 0x97",
    "AMDGPU i2c hw bus 0x97",
};

// The card's OEM bus among the buses: of the buses of that card (PCI address) whose name is one
// of kOemBusNames, the lowest-numbered one of the most preferred name; -1 when there is none.
int ChooseOemBus(const std::vector<plat::I2cAdapterEntry>& buses, const std::string& card);

// The display library's I2C request as kernel messages; see the definition. Fills messages
// (pointing into the request's data and into scratch) and returns their count, or 0 when the
// request cannot be served: not a read or a write, another device's address, an offset beyond
// a byte, a size out of range, no data.
size_t MapI2cRequest(const ADLI2C& request, std::vector<uint8_t>& scratch,
                     plat::I2cMessage (&messages)[2]);

class TKernelI2cLibrary {
 public:
  // Where the reason of a failed line goes (once per library): standard error by default.
  using ReasonSink = std::function<void(const std::string&)>;

  // Reads the cards and their buses from kernel (which it keeps). A context made through the
  // entry points belongs to the library made last.
  explicit TKernelI2cLibrary(std::unique_ptr<plat::KernelI2c> kernel, ReasonSink sink = {});
  ~TKernelI2cLibrary();
  TKernelI2cLibrary(const TKernelI2cLibrary&) = delete;
  TKernelI2cLibrary& operator=(const TKernelI2cLibrary&) = delete;

  // The entry point of that name, with the library's own signature; null for one it lacks.
  void* Lookup(const char* name) const;

  // Why I2C transfers on that line of that adapter fail: the card, the kernel's release and its
  // buses when it has no OEM bus; what keeps its bus node from being used; that the line has no
  // counterpart. Opens the chosen bus if no transfer has yet. Empty when nothing stands in the
  // way short of the device itself. A caller that asks has the reason to say: a failed transfer
  // then says none of its own.
  std::string LineReason(int adapterIndex, int line);

  struct Card {
    plat::PciDisplayFunction Pci;
    std::string Name;
    std::string Udid;
    std::vector<plat::I2cAdapterEntry> Buses;  // every bus of the card, by number
    int OemBus = -1;                           // the chosen bus's number; -1: none
    std::string OemBusName;
    // Set once the bus was opened (at most once).
    bool Tried = false;
    std::unique_ptr<plat::I2cBus> Bus;
    plat::I2cOpenFailure Failure = plat::I2cOpenFailure::None;
    std::string Detail;
    std::string Node;
    bool PlainI2c = false;
  };
  const std::vector<Card>& Cards() const { return AllCards; }

  // The entry points' work, with this library's context.
  int CreateContext(AdlContextHandle* context);
  int NumberOfAdapters(int* count) const;
  int AdapterInfos(AdapterInfo* table, int bytes) const;
  int OverdriveCaps(int adapterIndex, int* supported, int* enabled, int* version) const;
  int WriteAndReadI2C(int adapterIndex, ADLI2C* request);

  // The library made last (the one ADL2_Main_Control_Create hands out); null when none lives.
  static TKernelI2cLibrary* Latest();

 private:
  Card* CardAt(int adapterIndex);
  // Opens the card's chosen bus and asks for plain I2C, the first time only; true when the bus
  // can carry transfers.
  bool Prepare(Card& card);
  void SayOnce(int adapterIndex, int line);
  std::string Reason(int adapterIndex, int line);

  std::unique_ptr<plat::KernelI2c> Kernel;
  ReasonSink Sink;
  std::vector<Card> AllCards;
  bool ReasonSaid = false;
};

}  // namespace brumel
