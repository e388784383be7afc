#include "support/ReadWrite.h"

#include <cstring>
#include <utility>

#include "support/LoadDriver.h"

namespace brumel {

// Shared with the driver, which rebuilds each request's key from it.
const char kRwKeyText[kKeyTextLength + 1] = "7C1E5A93D04F2B68E5A1C97340BD8F26";

namespace {

void PutLE32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
  at[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t GetLE32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

TRwConfig* g_rwConfig = nullptr;

}  // namespace

TRwConfig* GetRwConfig() {
  if (!g_rwConfig) g_rwConfig = new TRwConfig();
  return g_rwConfig;
}

void ReleaseRwConfig() {
  delete g_rwConfig;
  g_rwConfig = nullptr;
}

TReadWrite::TReadWrite() : OsVersion(std::make_unique<TOsVersion>()), OwnsShared_(true) {
  VersionLevel = OsVersion->VersionLevel();
  RwConfig = GetRwConfig();
  RwSettings = &RwConfig->Settings;
  KeyText_ = kRwKeyText;

  // The driver only where this build carries its image for the running Windows (an NT-family
  // system: a 64-bit process cannot run on the 95/98/Me family), and only once it has loaded.
  // The image is chosen as the loader chooses it.
  if (VersionLevel > kLevelWin9x && TRwDrvData().Image) {
    Device = GetLoadDriver(false, false, false)->GetHandle();
  }
  if (Device != plat::kInvalidDevice) {
    UseDriver_ = true;
    Devices_ = &plat::SystemDeviceIo();
    Crypto = std::make_unique<TCryptography>();
  } else {
    Properties_ = plat::OpenPciConfigSource();
  }
}

TReadWrite::TReadWrite(TReadWriteSetup setup)
    : Device(setup.Device),
      VersionLevel(setup.VersionLevel),
      Crypto(std::move(setup.Crypto)),
      UseDriver_(setup.UseDriver),
      Devices_(setup.Devices),
      KeyText_(std::move(setup.KeyText)),
      Properties_(std::move(setup.Properties)) {
  RwConfig = GetRwConfig();
  RwSettings = &RwConfig->Settings;
}

TReadWrite::~TReadWrite() {
  RwConfig = nullptr;
  RwSettings = nullptr;
  // The settings object and the loader are the system instance's to release.
  if (OwnsShared_) {
    ReleaseRwConfig();
    ReleaseLoadDriver();
  }
}

void TReadWrite::MakeCf8Address(uint8_t bus, uint8_t device, uint16_t offset, uint8_t function) {
  Cf8DataPort = static_cast<uint16_t>(0xCFC + (offset & 3));
  if (device > 31 || function > 7) {
    Cf8Address = kAllOnes;
    return;
  }
  Cf8Address = 0x80000000u | (static_cast<uint32_t>((offset >> 8) & 0xF) << 24) |
               (static_cast<uint32_t>(bus) << 16) | (static_cast<uint32_t>(device) << 11) |
               (static_cast<uint32_t>(function) << 8) | (offset & 0xFCu);
}

uint32_t TReadWrite::ReadPciConfig(uint8_t bus, uint8_t device, uint16_t offset, uint8_t function) {
  if (device > 31 || function > 7) return kAllOnes;

  if (MmioBase != kAllOnes) {
    if (offset > 0xFFF) return kAllOnes;
    MmioAddress =
        MmioBase + bus * 0x100000u + device * 0x8000u + function * 0x1000u + (offset & 0xFFCu);
    MmioByteOffset = static_cast<uint8_t>(offset & 3);
    uint32_t value = kAllOnes;
    if (!ReadPhysical(&value, sizeof value, 2, MmioAddress)) return kAllOnes;
    return value;
  }
  if (offset > 255) return kAllOnes;

  if (!UseDriver_) {
    uint32_t value = kAllOnes;
    if (!Properties_ || !Properties_->ReadDword(bus, device, function, offset, value)) {
      return kAllOnes;
    }
    return value;
  }

  // No port instructions in this build: the 95/98/Me family (and anything unrecognised) has
  // no way in.
  if (VersionLevel <= kLevelWin9x) return kAllOnes;

  std::memset(PciRequest, 0, sizeof PciRequest);
  PciRequest[0] = bus;
  PciRequest[1] = device;
  PciRequest[2] = function;
  PciRequest[4] = static_cast<uint8_t>(offset);
  PciRequest[5] = static_cast<uint8_t>(offset >> 8);
  uint32_t returned = 0;
  const bool sent = SendRequest(Device, kIoctlReadPciConfig, PciRequest, kPciRequestSize,
                                PciRequest, kPciRequestSize, &returned);
  // A failed request, or a reply that stops short of the value, reads as "not there".
  if (!sent || returned < kPciRequestSize) return kAllOnes;
  return GetLE32(PciRequest + 8);
}

bool TReadWrite::ReadPhysical(void* destination, uint32_t byteCount, uint32_t unit,
                              uint64_t address) {
  // The 95/98/Me family's window mapping needs a 32-bit process: not in this build.
  if (!UseDriver_ || VersionLevel <= kLevelWin9x || !destination) return false;
  uint8_t block[kPhysicalRequestSize];
  PutLE32(block + 0, static_cast<uint32_t>(address));
  PutLE32(block + 4, static_cast<uint32_t>(address >> 32));
  PutLE32(block + 8, byteCount);
  PutLE32(block + 12, unit);
  // The driver copies into the caller's buffer: its whole address, low half first.
  const uint64_t target = reinterpret_cast<uintptr_t>(destination);
  PutLE32(block + 16, static_cast<uint32_t>(target));
  PutLE32(block + 20, static_cast<uint32_t>(target >> 32));
  uint32_t returned = 0;
  return SendRequest(Device, kIoctlReadPhysical, block, sizeof block, block, sizeof block,
                     &returned);
}

bool TReadWrite::SendRequest(plat::DeviceHandle device, uint32_t innerCode, const void* input,
                             uint32_t inputSize, void* output, uint32_t outputSize,
                             uint32_t* bytesReturned) {
  if (bytesReturned) *bytesReturned = 0;
  if (inputSize > kRequestParamsMax || (!input && inputSize)) return false;
  if (!Crypto || !Devices_ || KeyText_.size() != kKeyTextLength) return false;

  uint8_t keyBytes[kSealKeyBytes];
  uint8_t envelope[kEnvelopeSize];
  uint8_t key[kKeyTextLength];
  uint8_t plain[kRequestPlainSize] = {};
  std::vector<uint8_t> iv, cipher;
  bool sent = false;

  std::memcpy(key, KeyText_.data(), kKeyTextLength);
  if (Crypto->GenRandom(keyBytes, sizeof keyBytes) == plat::kCipherSuccess &&
      Crypto->GenRandom(envelope, sizeof envelope) == plat::kCipherSuccess) {
    std::memcpy(key + kKeyRandomAt, keyBytes, sizeof keyBytes);
    PutLE32(plain, innerCode);
    if (inputSize) std::memcpy(plain + 8, input, inputSize);
    // Sent only when it adds up: one AES block of IV and 40 bytes padded to 48.
    if (Crypto->Encrypt(key, sizeof key, plain, sizeof plain, iv, cipher) == plat::kCipherSuccess &&
        iv.size() == kSealIvLength && cipher.size() == kSealCipherLength) {
      PutLE32(envelope + kEnvelopeIvLengthAt, kSealIvLength);
      std::memcpy(envelope + kEnvelopeIvAt, iv.data(), kSealIvLength);
      std::memcpy(envelope + kEnvelopeKeyBytesAt, keyBytes, sizeof keyBytes);
      std::memcpy(envelope + kEnvelopeCipherAt, cipher.data(), kSealCipherLength);
      PutLE32(envelope + kEnvelopeCipherLengthAt, kSealCipherLength);
      uint32_t returned = 0;
      sent = Devices_->Control(device, kIoctlSealedRequest, envelope, sizeof envelope, output,
                               outputSize, returned);
      if (bytesReturned) *bytesReturned = sent ? returned : 0;
    }
  }

  WipeBytes(key, sizeof key);
  WipeBytes(plain, sizeof plain);
  WipeBytes(keyBytes, sizeof keyBytes);
  WipeBytes(envelope, sizeof envelope);
  WipeBytes(iv.data(), iv.size());
  WipeBytes(cipher.data(), cipher.size());
  return sent;
}

TReadWrite* GetReadWrite() {
  static TReadWrite* const instance = new TReadWrite();
  return instance;
}

}  // namespace brumel
