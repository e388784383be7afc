#include "isp/ChipLink.h"

#include <cstdint>
#include <cstdio>

#include "gpu/VideoAdapterBuilder.h"
#include "isp/ISPLdCMD.h"
#include "isp/ImageFile.h"
#include "isp/RunOptions.h"
#include "support/Console.h"

namespace brumel {

namespace {

// Replaced by the next connection step; the run flow releases it once the job has ended (a
// music thread has been waited for by then, so nothing sends through it any more).
ISPLdCMD* g_channel = nullptr;

constexpr uint8_t kControllerI2cAddress = 0x6C;
constexpr int kControllerAdapterIndex = 0;

void PrintHeading(const char* text) {
  TConsole::SetTextAttr(14);
  std::printf("%s", text);
  TConsole::SetTextAttr(7);
}

const char* RomText(uint32_t word) { return word == 0xFFFFFFFFu ? "Empty" : "OK"; }

// The GPU I2C links: the controller sits at address 0x6C on a line of adapter 0. No Connect is
// made; the transfers address the adapter's line directly. Always true: without an adapter the
// queries fail on their own.
bool OpenGpuLink(ISPLdCMD& channel, int line) {
  channel.SetInterface(ISPLdCMD::kGpuI2c, std::string());
  channel.SetI2CTarget(kControllerAdapterIndex, kControllerI2cAddress, line);
  TVideoAdapterBuilder** builder = GetVideoAdapterBuilder();
  if (!builder || !*builder) {
    std::printf("Can't Init ADL\n");
    return true;
  }
  IVideoAdapter* adapter = (*builder)->GetActiveAdapter();
  if (!adapter) {
    std::printf("Can't find adapter\n");
    return true;
  }
  AdapterDisplayName() = adapter->GetAdapterName();
  std::printf("Adapter: %s\n", AdapterDisplayName().c_str());
  TConsole::PrintStatus("Adapter", AdapterDisplayName().c_str(), 10);
  return true;
}

}  // namespace

ISPLdCMD* ControllerChannel() { return g_channel; }

void SetControllerChannel(std::unique_ptr<ISPLdCMD> channel) {
  delete g_channel;
  g_channel = channel.release();
}

void ReleaseControllerChannel() { SetControllerChannel(nullptr); }

std::string& AdapterDisplayName() {
  static std::string name;
  return name;
}

const char* InterfaceName(int interfaceNumber) {
  static const char* const kNames[] = {"USB", "I2C", "ADL_I2C_OEM", "ADL_I2C_OEM3"};
  if (interfaceNumber < 0 || interfaceNumber > 3) return "";
  return kNames[interfaceNumber];
}

bool OpenControllerLink() {
  const RunOptionsRecord& o = RunOptions();
  ReleaseControllerChannel();
  SetControllerChannel(std::make_unique<ISPLdCMD>());
  ISPLdCMD& channel = *ControllerChannel();

  switch (o.InterfaceNumber) {
    case 2:
    case 3:
      return OpenGpuLink(channel, o.InterfaceNumber == 2 ? 1 : 4);
    case 0:
      if (!o.HasDeviceId || o.DeviceId == -1) return false;
      channel.SetInterface(ISPLdCMD::kUsbHid, std::string());
      if (!channel.Connect(static_cast<uint32_t>(o.DeviceId))) {
        TConsole::PrintStatus("USB Connection", "Fail", 12);
        return false;
      }
      return true;
    default:
      // /I 1: no link is set up, so every query made through the channel fails.
      return true;
  }
}

void PrintChipInformation() {
  const RunOptionsRecord& o = RunOptions();

  PrintHeading("[ Configuration ]\n");
  std::printf("Program Interface ...... %s\n", InterfaceName(o.InterfaceNumber));
  if (!AdapterDisplayName().empty()) {
    std::printf("Adapter ................ %s\n", AdapterDisplayName().c_str());
  }
  if (o.HasApromFile) {
    fileinfo info;
    if (LoadImageFile(o.ApromFile, info)) {
      std::printf("APROM file size ........ %u bytes (0x%X)\n", info.Size, info.Size);
      std::printf("APROM file checksum .... %04X\n", info.Checksum);
    }
  }
  std::printf("\n");
  if (o.HasLdromFile) {
    fileinfo info;
    if (LoadImageFile(o.LdromFile, info)) {
      std::printf("LDROM file size ........ %u bytes\n", info.Size);
      std::printf("LDROM file checksum .... %04X\n", info.Checksum);
    }
  }

  PrintHeading("[ Chip - Current]\n");
  if (ISPLdCMD* channel = ControllerChannel()) {
    channel->SyncPacketNumber();
    uint32_t version = channel->GetVersion();
    const uint32_t release = channel->GetRelease();
    const uint32_t hardware = channel->GetHardwareVersion();
    const uint32_t feature = channel->GetFeature();
    const uint32_t device = channel->GetDeviceID();
    if (version > 0xF0000000u) version &= 0xFF;

    std::printf("FW Version ............. 0x%08X\n", version);
    std::printf("FW Release ............. 0x%08X\n", release);
    std::printf("FW Feature ............. 0x%08X\n", feature);
    std::printf("HW Version ............. 0x%08X\n", hardware);
    std::printf("Device ID .............. 0x%08X\n", device);

    const uint32_t mode = channel->GetFlashMode();
    if (mode == 0x20) {
      std::printf("Flash Mode ............. APROM (0x%02X)\n", mode);
    } else if (mode == 0x02 || mode == 0x10) {
      std::printf("Flash Mode ............. LDROM (0x%02X)\n", mode);
    } else {
      std::printf("Flash Mode ............. Unknown (0x%02X)\n", mode);
    }

    uint32_t config[4] = {};
    channel->ReadConfig(config);
    std::printf("Config0 : Config1 ...... 0x%08X : 0x%08X\n", config[0], config[1]);

    uint32_t rom[4] = {};
    if (channel->ReadRomState(rom)) {
      std::printf("ROM Data ............... LDROM[ %s ] APROM[ %s ]\n", RomText(rom[0]),
                  RomText(rom[1]));
    }
  }
  std::printf("\n");
  TConsole::SetTextAttr(7);
}

}  // namespace brumel
