// ISP reply acceptance and the query decoders over a stand-in USB HID device whose replies come
// from the fuzz input; and the button reply of the button test over the same device.
#include <dlfcn.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "isp/ChipLink.h"
#include "isp/ISPLdCMD.h"
#include "isp/IspPacket.h"
#include "led/LedReports.h"
#include "led/Vireonrun.h"
#include "platform/Files.h"

namespace {

using ScriptFn = void (*)(const uint8_t*, size_t);

ScriptFn Script() {
  // The tool loads the stand-in beside the executable; take the same copy.
  static const ScriptFn fn = [] {
    const std::string path = plat::ExecutableDir() + "libhidapi-hidraw.so.0";
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto f = lib ? reinterpret_cast<ScriptFn>(dlsym(lib, "standin_hid_script")) : nullptr;
    if (!f) std::abort();
    return f;
  }();
  return fn;
}

constexpr uint32_t kStandInId = 0x12345678;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::QuietStdout();
  FuzzedDataProvider in(data, size);
  const uint8_t plan = in.ConsumeIntegral<uint8_t>();
  const uint32_t readLength = in.ConsumeIntegralInRange<uint32_t>(0, 80);
  const std::string script = in.ConsumeRemainingBytesAsString();
  Script()(reinterpret_cast<const uint8_t*>(script.data()), script.size());

  brumel::SetControllerChannel(std::make_unique<brumel::ISPLdCMD>());
  brumel::ISPLdCMD& channel = *brumel::ControllerChannel();
  channel.SetInterface(brumel::ISPLdCMD::kUsbHid);
  if (!channel.Connect(kStandInId)) std::abort();

  switch (plan % 4) {
    case 0:  // the information display's queries that carry no fixed pauses on USB
      channel.SyncPacketNumber();
      channel.GetVersion();
      channel.GetRelease();
      channel.GetHardwareVersion();
      channel.GetFeature();
      channel.GetDeviceID();
      break;
    case 1: {  // one request, then a read of any payload length with or without the number
      uint8_t payload[64] = {};
      channel.WritePacket(0xA6, payload, readLength, 50);
      uint8_t out[80];
      std::memset(out, 0xEE, sizeof out);
      if (channel.ReadPacket(out, readLength, 50, (plan & 0x10) != 0)) {
        // Never more than asked, never past the packet's payload room.
        const size_t room = brumel::IspPayloadRoom(channel.GetHeaderOffset());
        for (size_t i = readLength < room ? readLength : room; i < sizeof out; ++i) {
          if (out[i] != 0xEE) std::abort();
        }
      }
      break;
    }
    case 2: {  // raw report exchange: the reply lands in 64 bytes, never more
      brumel::LedReport report = brumel::ReadButtonsReport();
      uint8_t out[80];
      std::memset(out, 0xEE, sizeof out);
      uint32_t length = 0;
      channel.SendAndRead(report.data(), out, &length);
      for (size_t i = 64; i < sizeof out; ++i) {
        if (out[i] != 0xEE) std::abort();
      }
      if (length != 0 && length != 64) std::abort();
      break;
    }
    default: {  // the button test's poll
      const uint8_t bits = brumel::GetVireon()->PollButtons();
      const int index = brumel::SingleButtonIndex(bits);
      if (index >= 5 || (index >= 0 && bits != (1u << index))) std::abort();
      break;
    }
  }
  brumel::ReleaseControllerChannel();
  return 0;
}
