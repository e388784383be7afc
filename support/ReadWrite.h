// Read access to PCI configuration space (and physical memory) for the graphics adapter model.
//
// Where a PCI function's identity comes from is decided once, when the instance is created:
//   - the tool's kernel driver, when this build carries an image of it for the running
//     Windows and the driver loads: every read is then a sealed request to it;
//   - otherwise what the system shows without a driver: the display adapters' device
//     properties on Windows, the function's sysfs "config" file on Linux.
// Whatever cannot be read answers all ones.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/DeviceIo.h"
#include "platform/PciConfig.h"
#include "support/Cryptography.h"
#include "support/OsVersion.h"

namespace brumel {

// Device-control codes of the driver (device type 0x22, read and write access, buffered).
inline constexpr uint32_t kIoctlSealedRequest = 0x22EC00;  // carries the envelope
inline constexpr uint32_t kIoctlReadPciConfig = 0x22E840;  // inside the envelope
inline constexpr uint32_t kIoctlReadPhysical = 0x22E808;   // inside the envelope

// The sealed request: a 40-byte plaintext (inner code, 4 bytes not used, up to 32 parameter
// bytes) encrypted into a 104-byte envelope.
inline constexpr size_t kRequestParamsMax = 32;
inline constexpr size_t kRequestPlainSize = 40;
inline constexpr size_t kEnvelopeSize = 104;
inline constexpr size_t kEnvelopeIvLengthAt = 2;
inline constexpr size_t kEnvelopeIvAt = 6;
inline constexpr size_t kEnvelopeKeyBytesAt = 27;
inline constexpr size_t kEnvelopeCipherAt = 50;
inline constexpr size_t kEnvelopeCipherLengthAt = 98;
inline constexpr size_t kSealIvLength = 16;
inline constexpr size_t kSealCipherLength = 48;
inline constexpr size_t kSealKeyBytes = 16;
// Key: key text characters 0..12, the 16 random key bytes, key text characters 29..31.
inline constexpr size_t kKeyTextLength = 32;
inline constexpr size_t kKeyRandomAt = 13;
// The fields of the envelope and the key follow each other without overlap.
static_assert(kEnvelopeIvLengthAt + 4 <= kEnvelopeIvAt);
static_assert(kEnvelopeIvAt + kSealIvLength <= kEnvelopeKeyBytesAt);
static_assert(kEnvelopeKeyBytesAt + kSealKeyBytes <= kEnvelopeCipherAt);
static_assert(kEnvelopeCipherAt + kSealCipherLength == kEnvelopeCipherLengthAt);
static_assert(kEnvelopeCipherLengthAt + 4 <= kEnvelopeSize);
static_assert(kRequestParamsMax + 8 == kRequestPlainSize);
static_assert(kRequestPlainSize + 8 == kSealCipherLength);  // one block of padding
static_assert(kKeyRandomAt + kSealKeyBytes <= kKeyTextLength);

// The key text shared with the driver; its 32 characters are used as bytes.
extern const char kRwKeyText[kKeyTextLength + 1];

inline constexpr size_t kPciRequestSize = 12;
inline constexpr size_t kPhysicalRequestSize = 24;
inline constexpr uint32_t kAllOnes = 0xFFFFFFFFu;

// Settings of the hardware-access library: defaults only, read by nothing in this tool.
struct TRwSettings {
  std::string CommandFile = "CMD.rw";
  std::string DebugFile = "RwDebug.rw";
  bool Debug = false;
};

class TRwConfig {
 public:
  TRwConfig() = default;
  virtual ~TRwConfig() = default;
  TRwSettings Settings;
  std::vector<std::string> Entries;
};

// The process-wide settings object, created on the first call.
TRwConfig* GetRwConfig();
void ReleaseRwConfig();

// What a TReadWrite works with; the default constructor takes the running system's.
struct TReadWriteSetup {
  uint32_t VersionLevel = 0;
  // The driver source: its open device and the system's device calls.
  bool UseDriver = false;
  plat::DeviceHandle Device = plat::kInvalidDevice;
  plat::DeviceIo* Devices = nullptr;
  std::unique_ptr<TCryptography> Crypto;
  std::string KeyText = kRwKeyText;
  // The source without a driver.
  std::unique_ptr<plat::PciConfigSource> Properties;
};

class TReadWrite {
 public:
  TReadWrite();
  explicit TReadWrite(TReadWriteSetup setup);
  ~TReadWrite();
  TReadWrite(const TReadWrite&) = delete;
  TReadWrite& operator=(const TReadWrite&) = delete;

  // The configuration dword of a PCI function at offset; 0xFFFFFFFF when it cannot be read.
  uint32_t ReadPciConfig(uint8_t bus, uint8_t device, uint16_t offset, uint8_t function);
  // Has the driver copy byteCount bytes of physical memory at address into destination, in
  // units of unit (0 bytes, 1 16-bit, 2 32-bit, other a block copy). False when it cannot.
  bool ReadPhysical(void* destination, uint32_t byteCount, uint32_t unit, uint64_t address);
  // Seals one request to the driver and sends it; the reply lands in output. bytesReturned
  // (may be null) gets the reply's length. False, with nothing sent, when inputSize is above
  // 32 or the sealing fails; false when the device call fails or times out.
  bool SendRequest(plat::DeviceHandle device, uint32_t innerCode, const void* input,
                   uint32_t inputSize, void* output, uint32_t outputSize, uint32_t* bytesReturned);
  // Sets Cf8Address and Cf8DataPort for the configuration mechanism's ports; a device above 31
  // or a function above 7 gives the address all ones.
  void MakeCf8Address(uint8_t bus, uint8_t device, uint16_t offset, uint8_t function);

  // True when reads go to the driver.
  bool UsesDriver() const { return UseDriver_; }

  uint32_t MmioBase = kAllOnes;  // unknown: the configuration requests are used
  std::unique_ptr<TOsVersion> OsVersion;
  plat::DeviceHandle Device = plat::kInvalidDevice;
  uint32_t VersionLevel = 0;
  TRwConfig* RwConfig = nullptr;
  TRwSettings* RwSettings = nullptr;
  std::unique_ptr<TCryptography> Crypto;
  uint32_t Cf8Address = 0;
  uint16_t Cf8DataPort = 0;
  uint8_t PciRequest[kPciRequestSize] = {};
  uint32_t MmioAddress = 0;
  uint8_t MmioByteOffset = 0;

 private:
  bool UseDriver_ = false;
  bool OwnsShared_ = false;  // the system's instance: releases the settings and the loader
  plat::DeviceIo* Devices_ = nullptr;
  std::string KeyText_;
  std::unique_ptr<plat::PciConfigSource> Properties_;
};

// The process-wide instance, created on the first call.
TReadWrite* GetReadWrite();

}  // namespace brumel
