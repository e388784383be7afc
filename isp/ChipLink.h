// The connection step and the chip information display.
//
// The connection step creates the one controller channel for the link chosen with /I and opens
// it; every later job (lighting modes, tests, the display) reaches the controller through
// ControllerChannel(), and does nothing while it is null.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Hid.h"

namespace brumel {

class ISPLdCMD;

// The one channel, or null before the first connection step.
ISPLdCMD* ControllerChannel();
// Replaces the channel (the previous one is destroyed first); null leaves none.
void SetControllerChannel(std::unique_ptr<ISPLdCMD> channel);
// Destroys the channel (closing its link) and leaves none.
void ReleaseControllerChannel();

// Name of the graphics adapter found by the connection step for the GPU I2C links; empty
// until then.
std::string& AdapterDisplayName();

// Printed name of an /I value: "USB", "I2C", "ADL_I2C_OEM", "ADL_I2C_OEM3"; "" outside 0-3.
const char* InterfaceName(int interfaceNumber);

// Creates the channel for RunOptions().InterfaceNumber and opens it. True when the run may use
// the link: false for USB without a device id (one line says that the link needs it) and when
// neither the requested nor the fallback device is present, or the one found would not open
// ("USB Connection" status line with "Fail", then one line with the reason). On the GPU I2C
// links a missing library or adapter is said in red, with the reason after it.
bool OpenControllerLink();

// The reason line after a failed USB connection: the HID library missing, the device found but
// not opened (with the system's reason), or no device with the id (with the ids of the
// controller's vendors that are present).
std::string UsbConnectionFailureReason(ISPLdCMD& channel, uint32_t deviceId);
// The reason when no device of deviceId (nor the fallback) is among the present ones.
std::string NoMatchingDeviceReason(uint32_t deviceId,
                                   const std::vector<plat::HidDeviceInfo>& present);

// The tool's configuration for the run (interface, adapter, image sizes and checksums), then
// what the controller reports to the ISP queries. Failed queries print in their failure forms.
// When no query got an accepted reply (or there is no link at all), one more line says so in
// red. True when the controller answered.
bool PrintChipInformation();

}  // namespace brumel
