// The serial line settings over what an earlier program left on the port.
#include <gtest/gtest.h>

#include "platform/win32/SerialSettings.h"

namespace {

TEST(SerialSettings, EveryByteGoesThroughAndHardwareFlowControlStays) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fParity = TRUE;
  dcb.fOutX = TRUE;  // XON/XOFF: 0x11 and 0x13 would be taken as flow control
  dcb.fInX = TRUE;
  dcb.fNull = TRUE;          // 0x00 bytes would be dropped
  dcb.fAbortOnError = TRUE;  // one line error would stall every later transfer
  dcb.fOutxCtsFlow = TRUE;
  dcb.fOutxDsrFlow = TRUE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fDsrSensitivity = TRUE;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;

  plat::ApplyLineSettings(dcb);
  EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(CBR_115200));
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_TRUE(dcb.fBinary);
  EXPECT_FALSE(dcb.fParity);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_FALSE(dcb.fOutX);
  EXPECT_FALSE(dcb.fInX);
  EXPECT_FALSE(dcb.fNull);
  EXPECT_FALSE(dcb.fAbortOnError);
  // Hardware flow control is the port's business.
  EXPECT_TRUE(dcb.fOutxCtsFlow);
  EXPECT_TRUE(dcb.fOutxDsrFlow);
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
  EXPECT_TRUE(dcb.fDsrSensitivity);
}

}  // namespace
