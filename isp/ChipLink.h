// The connection step and the chip information display.
//
// The connection step creates the one controller channel for the link chosen with /I and opens
// it; every later job (lighting modes, tests, the display) reaches the controller through
// ControllerChannel(), and does nothing while it is null.
#pragma once
#include <memory>
#include <string>

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
// the link: false only for USB without a device id (silent) or when neither the requested nor
// the fallback device opens ("USB Connection" status line with "Fail").
bool OpenControllerLink();

// The tool's configuration for the run (interface, adapter, image sizes and checksums), then
// what the controller reports to the ISP queries. Failed queries print in their failure forms.
void PrintChipInformation();

}  // namespace brumel
