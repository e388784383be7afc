#include "isp/ChipLink.h"

#include <cstdint>
#include <cstdio>
#include <vector>

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

constexpr int32_t kNormalAttr = 7;
constexpr int32_t kErrorAttr = 12;

constexpr char kNeedsDeviceId[] =
    "The USB link needs the device id: add /ID with the controller's vendor and product id, "
    "e.g. /ID 0416A316";

void PrintHeading(const char* text) {
  TConsole::SetTextAttr(14);
  std::printf("%s", text);
  TConsole::SetTextAttr(7);
}

const char* RomText(uint32_t word) { return word == 0xFFFFFFFFu ? "Empty" : "OK"; }

// One line in attribute 12: an error, or the reason of the line before it.
void PrintFailureLine(const std::string& text) {
  if (text.empty()) return;
  TConsole::SetTextAttr(kErrorAttr);
  std::printf("%s\n", text.c_str());
  TConsole::SetTextAttr(kNormalAttr);
}

// Why no adapter can carry the link: what the enumerator (or the display library, when there is
// no enumerator) says.
std::string NoAdapterReasonOf(TVideoAdapterBuilder** builder) {
  if (builder && *builder) return (*builder)->NoAdapterReason();
  TADL** adl = GetADL();
  if (adl && *adl && !(*adl)->NotReadyReason().empty()) return (*adl)->NotReadyReason();
  return "The graphics adapters could not be listed";
}

// The GPU I2C links: the controller sits at address 0x6C on a line of adapter 0. No Connect is
// made; the transfers address the adapter's line directly. Always true: without an adapter the
// queries fail on their own.
bool OpenGpuLink(ISPLdCMD& channel, int line) {
  channel.SetInterface(ISPLdCMD::kGpuI2c, std::string());
  channel.SetI2CTarget(kControllerAdapterIndex, kControllerI2cAddress, line);
  TVideoAdapterBuilder** builder = GetVideoAdapterBuilder();
  if (!builder || !*builder) {
    PrintFailureLine("Can't Init ADL");
    PrintFailureLine(NoAdapterReasonOf(builder));
    return true;
  }
  IVideoAdapter* adapter = (*builder)->GetActiveAdapter();
  if (!adapter) {
    PrintFailureLine("Can't find adapter");
    PrintFailureLine(NoAdapterReasonOf(builder));
    return true;
  }
  AdapterDisplayName() = adapter->GetAdapterName();
  std::printf("Adapter: %s\n", AdapterDisplayName().c_str());
  TConsole::PrintStatus("Adapter", AdapterDisplayName().c_str(), 10);
  // Where the library can tell beforehand that this line of the card cannot carry a transfer
  // (the tool's own library over the kernel's buses), it says why here.
  if (const TADL* library = adapter->GetDisplayLibrary()) {
    const std::string why = library->I2cLineReason(adapter->GetAdapterIndex(), line);
    if (!why.empty()) PrintFailureLine(why);
  }
  return true;
}

std::string Hex4(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value & 0xFFFF);
  return text;
}

std::string IdText(uint32_t vendorId, uint32_t productId) {
  return Hex4(vendorId) + ":" + Hex4(productId);
}

}  // namespace

std::string NoMatchingDeviceReason(uint32_t deviceId,
                                   const std::vector<plat::HidDeviceInfo>& present) {
  const uint32_t vendor = deviceId >> 16;
  const uint32_t product = deviceId & 0xFFFF;
  const bool fallbackToo =
      vendor != ISPLdCMD::kFallbackVendorId || product != ISPLdCMD::kFallbackProductId;
  std::string text = "No USB HID device " + IdText(vendor, product) + " is present";
  if (fallbackToo) {
    text +=
        ", nor the fallback " + IdText(ISPLdCMD::kFallbackVendorId, ISPLdCMD::kFallbackProductId);
  }
  // What else the controller's vendors have on the bus: a controller answering under another
  // id, for one.
  std::vector<std::string> seen;
  for (const plat::HidDeviceInfo& d : present) {
    if (d.vendorId != vendor && d.vendorId != ISPLdCMD::kFallbackVendorId) continue;
    const std::string id = IdText(d.vendorId, d.productId);
    bool listed = false;
    for (const std::string& s : seen) listed = listed || s == id;
    if (!listed) seen.push_back(id);
  }
  std::string vendors = Hex4(vendor);
  if (vendor != ISPLdCMD::kFallbackVendorId) vendors += " or " + Hex4(ISPLdCMD::kFallbackVendorId);
  if (seen.empty()) return text + "; no other device of vendor " + vendors + " is present";
  text += "; other devices of vendor " + vendors + ":";
  for (size_t i = 0; i < seen.size(); ++i) text += (i ? ", " : " ") + seen[i];
  return text;
}

std::string UsbConnectionFailureReason(ISPLdCMD& channel, uint32_t deviceId) {
  CHidIO& hid = channel.GetHid();
  if (!hid.Library().Available()) {
    return std::string("The HID library ") + plat::HidLibraryName() +
           " could not be loaded: no USB device can be reached";
  }
  // Found, but the device in use would not open.
  if (hid.GetDeviceCount() > 0 && !hid.SelectedDeviceOpen()) {
    return plat::DescribeHidOpenFailure(hid.GetDevicePaths()[hid.GetSelectedIndex()],
                                        hid.SelectedOpenError());
  }
  std::vector<plat::HidDeviceInfo> present;
  hid.Library().ListDevices(present);
  return NoMatchingDeviceReason(deviceId, present);
}

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
    case 0: {
      if (!o.HasDeviceId || o.DeviceId == -1) {
        PrintFailureLine(kNeedsDeviceId);
        return false;
      }
      channel.SetInterface(ISPLdCMD::kUsbHid, std::string());
      const auto deviceId = static_cast<uint32_t>(o.DeviceId);
      bool connected = channel.Connect(deviceId);
      // A device that was found but would not open (no access, busy) carries no link either.
      if (connected && !channel.GetHid().SelectedDeviceOpen()) connected = false;
      if (!connected) {
        TConsole::PrintStatus("USB Connection", "Fail", kErrorAttr);
        PrintFailureLine(UsbConnectionFailureReason(channel, deviceId));
        channel.Disconnect();
        return false;
      }
      return true;
    }
    default:
      // /I 1: no link is set up, so every query made through the channel fails.
      return true;
  }
}

namespace {

// The line after a display that no query got an answer for.
std::string NoAnswerLine(int interfaceNumber) {
  const std::string head =
      std::string("No controller answered on ") + InterfaceName(interfaceNumber);
  // /I 1 sets up no link at all.
  if (interfaceNumber == 1) {
    return head +
           ": no link is set up for it; /I 2 and /I 3 reach the controller over an I2C "
           "line of a graphics card";
  }
  return head + ": no chip value above was read";
}

}  // namespace

bool PrintChipInformation() {
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
  bool answered = false;
  if (ISPLdCMD* channel = ControllerChannel()) {
    const uint32_t acceptedBefore = channel->GetAcceptedReplies();
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
    answered = channel->GetAcceptedReplies() != acceptedBefore;
  }
  std::printf("\n");
  TConsole::SetTextAttr(7);
  // Every value above in its failure form would otherwise pass for an answer.
  if (!answered) PrintFailureLine(NoAnswerLine(o.InterfaceNumber));
  return answered;
}

}  // namespace brumel
