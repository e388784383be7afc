// The GPU I2C link of the controller channel: one ISP packet goes out as one I2C write and one
// reply comes back as one I2C read, on a bus line of the active graphics adapter, through the
// display library. The channel sets the target (adapter, address, line) before every transfer.
#pragma once
#include <cstdint>

#include "gpu/VideoAdapterBuilder.h"

namespace brumel {

class TAdlI2CIO {
 public:
  // One read carries at most this many bytes: the ISP packet size on this link.
  static constexpr uint32_t kTransferBytes = 12;

  // Takes the adapter enumerator (created and run on first use).
  TAdlI2CIO();
  virtual ~TAdlI2CIO();
  TAdlI2CIO(const TAdlI2CIO&) = delete;
  TAdlI2CIO& operator=(const TAdlI2CIO&) = delete;

  // Makes the kept adapter of that display-library adapter index the active one; an index no
  // kept adapter has changes nothing.
  void SelectAdapter(int32_t adapterIndex);
  void SetAddress(uint8_t address);
  void SetLine(int32_t line);

  // Sends packet[0] as the register byte and the next *size - 1 bytes as data; *size becomes
  // the data count. Refused for a size below 1 or above capacity. timeoutMs is not used: a
  // transfer is one blocking library call.
  bool Write(uint8_t* packet, uint32_t capacity, int32_t* size, uint32_t timeoutMs);
  // Reads size bytes from the register packet[0] (as it stands) over the start of packet.
  // Refused for a size below 1 or above min(capacity, 12); a failure leaves packet unchanged.
  bool Read(uint8_t* packet, uint32_t capacity, int32_t size, uint32_t timeoutMs);

  bool IsReady() const { return Ready; }
  int32_t GetAdapterIndex() const { return AdapterIndex; }
  uint8_t GetAddress() const { return Address; }
  int32_t GetLine() const { return Line; }

 private:
  // The active adapter when a transfer may go out, else null.
  IVideoAdapter* Target() const;

  TVideoAdapterBuilder** Enumerator = nullptr;
  bool Ready = false;
  int32_t AdapterIndex = -1;
  uint8_t Address = 0xFF;
  int32_t Line = 4;
};

}  // namespace brumel
