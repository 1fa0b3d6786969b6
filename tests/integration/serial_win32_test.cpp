// Windows port names: the system's device names are case-insensitive.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "fixtures.h"

namespace zarn {
namespace test {
namespace {

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
