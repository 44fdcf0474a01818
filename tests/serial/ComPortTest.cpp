#include "serial/ComPort.h"
#include "serial/DeviceMap.h"

#include "PtyPair.h"
#include "TestSettings.h"

#include <gtest/gtest.h>

TEST(ComPortSmoke, RoundTrip) {
  TestSettings settings;
  PtyPair pty;
  ASSERT_TRUE(SetComDevicePath(1, pty.SlavePath()));
  TComPort port;
  port.PortNumber = 1;
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  const std::uint8_t out[] = {0x2F, 0x0D, 0x0A, 0xFF};
  ASSERT_EQ(port.Write(out, 4), 1);
  EXPECT_EQ(pty.Read(4), std::vector<std::uint8_t>(out, out + 4));
  pty.Write({1, 2, 3});
  std::uint8_t in[8];
  int got = 0;
  ASSERT_TRUE(WaitUntil([&] { int n = 8; if (port.Read(in + got, n)) got += n; return got == 3; }));
}
