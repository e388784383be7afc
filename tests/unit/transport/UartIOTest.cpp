#include <gtest/gtest.h>

#include <cstdint>

#include "platform/Files.h"
#include "platform/Serial.h"
#include "transport/UartIO.h"

namespace brumel {
namespace {

TEST(UartIOTest, PortNamesBecomeDevicePaths) {
  if (plat::kPathSeparator == '\\') {
    EXPECT_EQ(plat::SerialPort::DevicePath("COM3"), "\\\\.\\COM3");
  } else {
    EXPECT_EQ(plat::SerialPort::DevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(plat::SerialPort::DevicePath("/dev/pts/7"), "/dev/pts/7");
  }
}

TEST(UartIOTest, MissingPortFailsToOpen) {
  CUartIO uart;
  EXPECT_FALSE(uart.OpenPort("COM3"));  // no such port here (Wine: error 2)
  EXPECT_FALSE(uart.OpenPort(""));
  EXPECT_FALSE(uart.IsOpen());
}

TEST(UartIOTest, TransfersOnAClosedPortFail) {
  CUartIO uart;
  uint8_t packet[64] = {0xA6};
  uint32_t count = 77;
  EXPECT_FALSE(uart.Write(packet, sizeof(packet), &count, 100));
  EXPECT_EQ(count, 0u);
  count = 77;
  EXPECT_FALSE(uart.Read(packet, sizeof(packet), &count, 100));
  EXPECT_EQ(count, 0u);
  uart.ClosePort();  // harmless when closed
  uart.ClosePort();
}

}  // namespace
}  // namespace brumel
