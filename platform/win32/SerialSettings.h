// The line settings the serial port is given (Windows), over what the port had.
#pragma once
#include <windows.h>

namespace plat {

// 115200 baud, 8 data bits, no parity, 1 stop bit, binary, DTR raised, and every byte passed
// through as it is: no XON/XOFF flow control (which would eat 0x11 and 0x13 and stall the line),
// no null stripping, no stop of every transfer after a line error. Hardware flow control (CTS,
// DSR, RTS) stays as the port had it.
void ApplyLineSettings(DCB& dcb);

}  // namespace plat
