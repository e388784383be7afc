#include "isp/ISPLdCMD.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/Console.h"
#include "platform/Time.h"
#include "support/DebugConsole.h"

namespace brumel {

namespace {

constexpr uint16_t kCmdReadConfig = 0xA2;
constexpr uint16_t kCmdSyncPacketNumber = 0xA4;
constexpr uint16_t kCmdReadRomState = 0xA5;
constexpr uint16_t kCmdGetVersion = 0xA6;
constexpr uint16_t kCmdGetRelease = 0xA7;
constexpr uint16_t kCmdGetHardwareVersion = 0xA8;
constexpr uint16_t kCmdGetFeature = 0xA9;
constexpr uint16_t kCmdGetDeviceID = 0xB1;
constexpr uint16_t kCmdGetFlashMode = 0xCA;

constexpr unsigned kQueryPauseMs = 20;
constexpr unsigned kRomStatePauseMs = 100;
constexpr unsigned kRetryPauseMs = 10;

uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The query a command code belongs to, for the diagnostic log.
std::string CommandName(uint16_t command) {
  switch (command) {
    case kCmdReadConfig:
      return "ReadConfig (A2)";
    case kCmdSyncPacketNumber:
      return "SyncPacketNumber (A4)";
    case kCmdReadRomState:
      return "ReadRomState (A5)";
    case kCmdGetVersion:
      return "GetVersion (A6)";
    case kCmdGetRelease:
      return "GetRelease (A7)";
    case kCmdGetHardwareVersion:
      return "GetHardwareVersion (A8)";
    case kCmdGetFeature:
      return "GetFeature (A9)";
    case kCmdGetDeviceID:
      return "GetDeviceID (B1)";
    case kCmdGetFlashMode:
      return "GetFlashMode (CA)";
    default:
      break;
  }
  char text[24];
  std::snprintf(text, sizeof text, "command %04X", unsigned{command});
  return text;
}

void Say(const char* text) {
  std::fputs(text, stdout);
  plat::ConsoleFlush();
}

}  // namespace

ISPLdCMD::ISPLdCMD() = default;

ISPLdCMD::~ISPLdCMD() = default;

void ISPLdCMD::SetInterface(int linkKind, const std::string& portName) {
  Interface = linkKind;
  try {
    PortName = portName;
  } catch (const std::bad_alloc&) {
    PortName.clear();
  }
  if (linkKind == kGpuI2c) {
    PacketSize = 12;
    HeaderOffset = 2;
  }
}

void ISPLdCMD::SetI2CTarget(int adapterIndex, uint8_t address, int line) {
  I2cAdapterIndex = adapterIndex;
  I2cAddress = address;
  I2cLine = line;
}

bool ISPLdCMD::Connect(uint32_t deviceId) {
  OpenedProductId = 0;
  ScopedMutex hold(ChannelMutex);
  if (Connected) return true;
  switch (Interface) {
    case kUsbHid: {
      const auto vendorId = static_cast<uint16_t>(deviceId >> 16);
      const auto productId = static_cast<uint16_t>(deviceId & 0xFFFF);
      if (Hid.OpenDevice(false, vendorId, productId, 0, 0)) {
        OpenedProductId = kOpenedRequested;
      } else if (Hid.OpenDevice(false, kFallbackVendorId, kFallbackProductId, 0, 0)) {
        OpenedProductId = kFallbackProductId;
      } else {
        return false;
      }
      break;
    }
    case kSerial: {
      bool opened = false;
      try {
        opened = Uart.OpenPort(PortName);
      } catch (const std::bad_alloc&) {
        opened = false;
      }
      if (!opened) return false;
      break;
    }
    case kGpuI2c:
      // Nothing to open: the adapter's line is addressed per transfer.
      if (I2cAdapterIndex < 0 || I2cLine < 0 || I2cAddress == 0xFF) return false;
      break;
    default:
      return false;
  }
  Connected = true;
  return true;
}

void ISPLdCMD::Disconnect() {
  ScopedMutex hold(ChannelMutex);
  if (!Connected) return;
  Connected = false;
  switch (Interface) {
    case kUsbHid:
      Hid.CloseDevice();
      break;
    case kSerial:
      Uart.ClosePort();
      break;
    case kGpuI2c:
      I2cAdapterIndex = -1;
      I2cLine = -1;
      I2cAddress = 0xFF;
      break;
    default:
      break;
  }
}

bool ISPLdCMD::WritePacket(uint32_t command, const void* payload, uint32_t length,
                           uint32_t timeoutMs) {
  std::memset(Buffer, 0, sizeof(Buffer));
  uint8_t* packet = Buffer + 1;
  BuildRequestPacket(packet, static_cast<uint16_t>(command), PacketNumber, payload, length,
                     HeaderOffset);
  LastChecksum = ChecksumOf(packet);
  LastCommand = static_cast<uint16_t>(command);

  bool sent = false;
  switch (Interface) {
    case kUsbHid:
      sent = Hid.Write(Buffer, kReportBytes, nullptr, timeoutMs);
      break;
    case kSerial:
      sent = Uart.Write(packet, kIspPacketBytes, nullptr, timeoutMs);
      break;
    case kGpuI2c: {
      SelectI2cTarget();
      // The command's low byte goes out as the register byte, the rest of the request as data.
      const uint64_t bytes = uint64_t{length} + 5;
      if (bytes > PacketSize) break;  // more than a packet holds: not sent
      int32_t size = static_cast<int32_t>(bytes);
      sent = I2c.Write(packet, PacketSize, &size, timeoutMs);
      break;
    }
    default:
      sent = false;  // no link chosen
      break;
  }
  if (sent) {
    PacketNumber += 2;
  } else if (Interface != kGpuI2c) {
    Disconnect();
  }
  return sent;
}

bool ISPLdCMD::ReadPacket(void* out, uint32_t length, uint32_t timeoutMs, bool checkNumber) {
  const uint64_t start = plat::MonotonicMs();
  uint8_t* packet = Buffer + 1;
  for (;;) {
    if (!Connected && Interface < kGpuI2c) return false;
    // Every read gets what is left of the caller's time, so retries end with it too.
    const uint64_t elapsed = plat::MonotonicMs() - start;
    const uint32_t left = elapsed >= timeoutMs ? 0 : static_cast<uint32_t>(timeoutMs - elapsed);

    size_t received = 0;
    uint32_t count = 0;
    switch (Interface) {
      case kUsbHid:
        if (!Hid.Read(Buffer, kReportBytes, &count, left)) return false;
        received = count > 0 ? count - 1 : 0;  // less the report id
        break;
      case kSerial:
        if (!Uart.Read(packet, kIspPacketBytes, &count, left)) return false;
        received = count;
        break;
      case kGpuI2c:
        // A reply and its four echo bytes must fit the 12-byte packet.
        if (length > kMaxI2cReplyData) return false;
        std::memset(Buffer, 0, length + 5);
        SelectI2cTarget();
        if (!I2c.Read(packet, PacketSize, static_cast<int32_t>(length + 4), left)) return false;
        received = length + 4;
        break;
      default:
        return false;
    }
    if (received > kIspPacketBytes) received = kIspPacketBytes;

    if (AcceptReply(packet, received, HeaderOffset, LastChecksum, PacketNumber, checkNumber)) {
      const size_t room = received - 2 * HeaderOffset;
      const size_t n = length < room ? length : room;
      if (out && n > 0) std::memcpy(out, packet + 2 * HeaderOffset, n);
      ++AcceptedReplies;
      return true;
    }
    if (DebugLogRequested()) {
      ToolLog("ISP reply",
              CommandName(LastCommand) + " rejected: " +
                  RejectedReplyReason(packet, received, HeaderOffset, LastChecksum, PacketNumber,
                                      checkNumber),
              kLogBad);
    }
    // A controller under the fallback id may still be answering earlier requests: keep reading
    // until the matching reply comes or the time is up.
    if (OpenedProductId != kFallbackProductId) return false;
    const uint64_t spent = plat::MonotonicMs() - start;
    if (spent >= timeoutMs) return false;
    const uint64_t rest = timeoutMs - spent;
    plat::SleepMs(static_cast<unsigned>(rest < kRetryPauseMs ? rest : kRetryPauseMs));
  }
}

void ISPLdCMD::SelectI2cTarget() {
  I2c.SelectAdapter(I2cAdapterIndex);
  I2c.SetAddress(I2cAddress);
  I2c.SetLine(I2cLine);
}

void ISPLdCMD::PauseIfI2C(unsigned ms) const {
  if (Interface == kGpuI2c) plat::SleepMs(ms);
}

void ISPLdCMD::Pause(bool always, unsigned ms) const {
  if (always) {
    plat::SleepMs(ms);
  } else {
    PauseIfI2C(ms);
  }
}

bool ISPLdCMD::SyncPacketNumber() {
  PacketNumber = 1;
  const uint8_t payload[4] = {0x01, 0x00, 0x00, 0x00};
  PauseIfI2C(kQueryPauseMs);
  if (!WritePacket(kCmdSyncPacketNumber, payload, sizeof(payload), kIspTimeoutMs)) return false;
  PauseIfI2C(kQueryPauseMs);
  return ReadPacket(nullptr, 0, kIspTimeoutMs, false);
}

uint32_t ISPLdCMD::Query32(uint16_t command, bool pauseAlways) {
  Pause(pauseAlways, kQueryPauseMs);
  if (!WritePacket(command, nullptr, 0, kIspTimeoutMs)) return 0;
  Pause(pauseAlways, kQueryPauseMs);
  uint8_t value[4] = {};
  if (!ReadPacket(value, sizeof(value), kIspTimeoutMs, true)) return 0;
  return GetLe32(value);
}

bool ISPLdCMD::QueryWords(uint16_t command, uint32_t* area, unsigned pauseAfterMs) {
  bool ok = false;
  uint8_t words[8] = {};
  plat::SleepMs(kQueryPauseMs);
  if (WritePacket(command, nullptr, 0, kIspTimeoutMs)) {
    plat::SleepMs(kQueryPauseMs);
    ok = ReadPacket(words, sizeof(words), kIspTimeoutMs, true);
    if (pauseAfterMs) plat::SleepMs(pauseAfterMs);
  }
  if (!area) return false;
  if (ok) {
    area[0] = GetLe32(words);
    area[1] = GetLe32(words + 4);
  } else {
    for (int i = 0; i < 4; ++i) area[i] = 0xFFFFFFFFu;
  }
  return ok;
}

uint32_t ISPLdCMD::GetVersion() { return Query32(kCmdGetVersion, false); }
uint32_t ISPLdCMD::GetRelease() { return Query32(kCmdGetRelease, false); }
uint32_t ISPLdCMD::GetHardwareVersion() { return Query32(kCmdGetHardwareVersion, false); }
uint32_t ISPLdCMD::GetFeature() { return Query32(kCmdGetFeature, false); }
uint32_t ISPLdCMD::GetDeviceID() { return Query32(kCmdGetDeviceID, false); }
uint32_t ISPLdCMD::GetFlashMode() { return Query32(kCmdGetFlashMode, true); }

bool ISPLdCMD::ReadConfig(uint32_t* area) { return QueryWords(kCmdReadConfig, area, 0); }

bool ISPLdCMD::ReadRomState(uint32_t* area) {
  return QueryWords(kCmdReadRomState, area, kRomStatePauseMs);
}

bool ISPLdCMD::SendCommand(const uint8_t* report, uint32_t /*length*/) {
  if (Interface != kUsbHid) {
    Say("SendCommand Interface Fail\n");
    return false;
  }
  if (!report) return false;
  return Hid.Write(report, kReportBytes, nullptr, kRawTimeoutMs);
}

bool ISPLdCMD::ReadReply(uint8_t* out, uint32_t* length) {
  if (Interface != kUsbHid) return false;
  uint8_t report[kReportBytes] = {};
  if (out && Hid.Read(report, kReportBytes, nullptr, kRawTimeoutMs)) {
    std::memcpy(out, report, kIspPacketBytes);
    if (length) *length = kIspPacketBytes;
    return true;
  }
  if (length) *length = 0;
  Say("ReadFile Fail\n");
  return false;
}

bool ISPLdCMD::SendAndRead(const uint8_t* report, uint8_t* out, uint32_t* length) {
  if (Interface != kUsbHid) return false;
  const bool sent = SendCommand(report);
  ReadReply(out, length);
  return sent;
}

}  // namespace brumel
