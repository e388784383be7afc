// The controller channel: ISP commands framed into numbered packets over USB HID, a serial port
// or the I2C line of a graphics adapter, and the raw 65-byte report exchange the LED functions
// use over USB HID. Constructing a channel takes the graphics adapter enumerator (its first use
// loads the display library and enumerates the adapters).
//
// One thread at a time uses a channel; only Connect and Disconnect take its lock. Nothing here
// throws.
#pragma once
#include <cstdint>
#include <string>

#include "isp/IspPacket.h"
#include "transport/AdlI2CIO.h"
#include "transport/HidIO.h"
#include "transport/Mutex2.h"
#include "transport/UartIO.h"

namespace brumel {

class ISPLdCMD {
 public:
  // Link kinds (not the values of the /I option).
  static constexpr int kNoLink = 0;
  static constexpr int kUsbHid = 1;
  static constexpr int kSerial = 2;
  static constexpr int kGpuI2c = 3;

  // The fallback USB identity tried when the requested one is not present.
  static constexpr uint16_t kFallbackVendorId = 0x0416;
  static constexpr uint16_t kFallbackProductId = 0xA316;
  // OpenedProductId after an open under the requested id.
  static constexpr uint32_t kOpenedRequested = 0x3F00;

  static constexpr uint32_t kIspTimeoutMs = 5000;
  static constexpr uint32_t kRawTimeoutMs = 500;
  static constexpr uint32_t kReportBytes = 65;
  // On the GPU I2C link a reply carries at most this many data bytes (12-byte packets).
  static constexpr uint32_t kMaxI2cReplyData = TAdlI2CIO::kTransferBytes - 4;

  ISPLdCMD();
  ~ISPLdCMD();
  ISPLdCMD(const ISPLdCMD&) = delete;
  ISPLdCMD& operator=(const ISPLdCMD&) = delete;

  // Chooses the link (and the serial port name for link 2). Link 3 uses 12-byte packets with the
  // packet number at offset 2.
  void SetInterface(int linkKind, const std::string& portName = std::string());
  void SetI2CTarget(int adapterIndex, uint8_t address, int line);

  // Opens the chosen link. deviceId: vendor id in the high 16 bits, product id in the low 16
  // (USB HID; the fallback 0416:A316 is tried when that is not present). True at once when
  // already connected.
  bool Connect(uint32_t deviceId);
  void Disconnect();

  // Sends one request (payload may be null; cut to the packet's payload room). A failed send
  // on USB HID or serial disconnects the channel.
  bool WritePacket(uint32_t command, const void* payload, uint32_t length, uint32_t timeoutMs);
  // Reads the reply to the last request and copies up to length payload bytes to out (may be
  // null). With checkNumber the reply must echo the number after the request's. On the GPU I2C
  // link a length above kMaxI2cReplyData is refused.
  bool ReadPacket(void* out, uint32_t length, uint32_t timeoutMs, bool checkNumber);

  // ISP queries. The 32-bit ones return 0 on failure.
  bool SyncPacketNumber();
  uint32_t GetVersion();
  uint32_t GetRelease();
  uint32_t GetHardwareVersion();
  uint32_t GetFeature();
  uint32_t GetDeviceID();
  uint32_t GetFlashMode();
  // area: four words. A good reply fills words 0 and 1 (Config0, Config1 / LDROM word, APROM
  // word) and leaves 2 and 3 alone; a failure sets all four to 0xFFFFFFFF.
  bool ReadConfig(uint32_t* area);
  bool ReadRomState(uint32_t* area);

  // Raw reports, USB HID only, 500 ms each. report: 65 bytes (report id 0, then the command);
  // exactly 65 bytes are written, whatever length says.
  bool SendCommand(const uint8_t* report, uint32_t length = kReportBytes);
  // Reads one 65-byte report and copies its first 64 bytes to out (report id first, so reply
  // byte i lands at out[i + 1]); out must hold 64 bytes. length: 64 on success, 0 when the read
  // failed; left alone when the link is not USB HID.
  bool ReadReply(uint8_t* out, uint32_t* length);
  // SendCommand, then ReadReply even when the send failed. True when the report was sent.
  bool SendAndRead(const uint8_t* report, uint8_t* out, uint32_t* length);

  // Sleeps ms only on the GPU I2C link.
  void PauseIfI2C(unsigned ms) const;

  // Replies accepted since the channel was made: a query answered by the controller adds one.
  uint32_t GetAcceptedReplies() const { return AcceptedReplies; }

  int GetInterface() const { return Interface; }
  bool IsConnected() const { return Connected; }
  uint32_t GetPacketNumber() const { return PacketNumber; }
  uint16_t GetLastChecksum() const { return LastChecksum; }
  uint32_t GetOpenedProductId() const { return OpenedProductId; }
  uint32_t GetPacketSize() const { return PacketSize; }
  uint32_t GetHeaderOffset() const { return HeaderOffset; }
  int GetI2cAdapterIndex() const { return I2cAdapterIndex; }
  uint8_t GetI2cAddress() const { return I2cAddress; }
  int GetI2cLine() const { return I2cLine; }
  const std::string& GetPortName() const { return PortName; }
  CHidIO& GetHid() { return Hid; }
  TAdlI2CIO& GetI2c() { return I2c; }

 private:
  // A query answered by a 32-bit payload; pauseAlways: pause on every link, not only on I2C.
  uint32_t Query32(uint16_t command, bool pauseAlways);
  // A query answered by two words into area (0xFF fill on failure).
  bool QueryWords(uint16_t command, uint32_t* area, unsigned pauseAfterMs);
  void Pause(bool always, unsigned ms) const;
  // Hands the channel's I2C target to the GPU I2C link (before every transfer).
  void SelectI2cTarget();

  uint8_t Buffer[kReportBytes] = {};  // report id 0, then the 64 packet bytes
  uint32_t PacketNumber = 18;
  uint16_t LastChecksum = 0;
  uint16_t LastCommand = 0;  // of the last request sent, for the diagnostic log
  uint32_t AcceptedReplies = 0;
  int Interface = kNoLink;
  uint32_t OpenedProductId = 0;
  std::string PortName;
  CHidIO Hid;
  CUartIO Uart;
  bool Connected = false;
  CMutex2 ChannelMutex;
  TAdlI2CIO I2c;
  int I2cAdapterIndex = -1;
  uint8_t I2cAddress = 0xFF;
  int I2cLine = -1;
  uint32_t PacketSize = 64;
  uint32_t HeaderOffset = 4;
};

}  // namespace brumel
