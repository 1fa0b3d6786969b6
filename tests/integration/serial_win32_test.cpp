// The COM port on Windows: whatever the port's last user left in it, the
// library's line is raw, without flow control of any kind; and port names,
// like the system's device names, are case-insensitive.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "fixtures.h"

namespace zarn {
namespace test {
namespace {

bool LineSettings(DCB* dcb, DCB* change) {
  HANDLE port = CreateFileA("\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return false;
  dcb->DCBlength = sizeof *dcb;
  bool ok = GetCommState(port, dcb) != 0;
  if (ok && change) ok = SetCommState(port, change) != 0;
  CloseHandle(port);
  return ok;
}

TEST(SerialPort, NoFlowControlIsLeftFromThePortsLastUser) {
  DCB left;
  ASSERT_TRUE(LineSettings(&left, nullptr));
  // Another program used the port with hardware and software flow control.
  left.fOutxCtsFlow = TRUE;
  left.fRtsControl = RTS_CONTROL_HANDSHAKE;
  left.fOutX = TRUE;
  left.fInX = TRUE;
  DCB ignored;
  ASSERT_TRUE(LineSettings(&ignored, &left));
  DriveModel model;
  model.SetWord(0x2100, 0, 0x0102);
  SerialPeer peer;
  ASSERT_FALSE(peer.SlavePath().empty());
  peer.SetResponder(model.Serial(1));
  ASSERT_EQ(0, ZARN_SDRVOpen(1, peer.SlavePath().c_str(), 115200));
  uint16_t value = 0;
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &value));  // with CTS flow control the write would fail (16)
  EXPECT_EQ(0x0102, value);
  ZARN_DriveClose(1);
  DCB now;
  ASSERT_TRUE(LineSettings(&now, nullptr));
  // (Wine reports RTS as enabled whatever was set, so RTS is not checked here.)
  EXPECT_EQ(0u, now.fOutxCtsFlow);
  EXPECT_EQ(0u, now.fOutX);
  EXPECT_EQ(0u, now.fInX);
}

TEST(SerialPortName, LowerCaseNameOpensThePort) {
  SerialPeer peer;
  DriveModel model;
  model.SetWord(0x2100, 0, 7);
  peer.SetResponder(model.Serial(1));
  std::string name = peer.SlavePath();  // "COM1"
  for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  ASSERT_EQ(0, ZARN_SDRVOpen(1, name.c_str(), 115200));
  uint16_t value = 0;
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &value));
  EXPECT_EQ(7, value);
  ZARN_DriveClose(1);
}

}  // namespace
}  // namespace test
}  // namespace zarn
