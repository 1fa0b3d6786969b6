// The C++ API against a scripted drive behind a real pseudo-terminal (a COM
// port pair on Windows): errors, the exact requests of its commands, refusals
// that send no motion request, bounded waits, closed drives.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "core/state.h"
#include "fixtures.h"
#include "protocol/objects.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace test {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// The header reads these objects by number; the object map is their home.
namespace b = objects::bits;
static_assert(detail::kControlInput1 == objects::ControlInput1.index &&
                  detail::kStateOutput == objects::StateOutput.index &&
                  detail::kHomingState == objects::HomingState.index &&
                  detail::kErrorCode == objects::ErrorCode.index &&
                  detail::kPositionWindow == objects::PositionWindow.index,
              "objects");
static_assert(detail::kStopBit == b::kStop && detail::kEmergencyStopBit == b::kEmergencyStop &&
                  detail::kServoEnableBit == b::kServoEnable && detail::kServoOnBit == b::kServoOn &&
                  detail::kAlarmBit == b::kAlarm && detail::kInPositionBit == b::kInPosition &&
                  detail::kTorqueLimitBit == b::kTorqueLimit && detail::kInVelocityBit == b::kInVelocity &&
                  detail::kHomingDoneBit == b::kHomingDone && detail::kIndexEndedBit == b::kIndexEnded,
              "bits");

TEST(CppErrors, EveryCodeHasItsMessage) {
  char text[71];
  for (int code = -2; code <= 45; ++code) {  // the library's own table, and codes outside it
    SetLastError(code);
    ZARN_GetErrorCode(text);
    EXPECT_EQ(text, error_category().message(code)) << code;
  }
  for (int code = ZARN_E_ALARM_ACTIVE; code <= ZARN_E_ALARM_PERSISTS; ++code) {
    SetLastError(code);  // the C functions know none of the motion conditions
    ZARN_GetErrorCode(text);
    EXPECT_STREQ("Unknown Error.", text);
    EXPECT_NE("Unknown Error.", error_category().message(code)) << code;
  }
  EXPECT_EQ("Motion: The move did not end in time.", error_category().message(ZARN_E_MOVE_TIMEOUT));
  EXPECT_STREQ("zarn", error_category().name());
  const Error e(ZARN_E_REPLY_BUSY, "Read, drive 3");
  EXPECT_EQ(make_error_code(ZARN_E_REPLY_BUSY), e.code());
  EXPECT_STREQ("Read, drive 3: Reply Error: Drive is busy.", e.what());
}

class CppDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(peer.SlavePath().empty()) << "no pseudo-terminal";
    peer.SetResponder(model.Serial(1));
    drive = Drive::OpenSerial(1, peer.SlavePath(), 115200);
    // An axis at rest at 100, servo on and in position, window 10.
    model.SetWord(0x2121, 0, 0x0011);
    model.SetWord(0x2122, 0, 0x0000);
    model.SetWord(0x211F, 0, 0x1000);
    model.SetWord(0x603F, 0, 0x0000);
    model.SetDWord(0x6064, 0, 100);
    model.SetDWord(0x6067, 0, 10);
    model.SetWord(0x6040, 0, 0x000F);
    model.SetWord(0x2120, 0, 0x0000);
  }
  // The accesses since the last call, as "R 6040:00" or "W 607A:00 00 00 03 E8".
  Lines Wire() {
    Lines out;
    for (const auto& a : model.Log()) {
      char head[32];
      snprintf(head, sizeof head, "%c %04X:%02X", a.write ? 'W' : 'R', a.index, a.subIndex);
      out.push_back(a.write ? std::string(head) + " " + Hex(a.data) : std::string(head));
    }
    model.ClearLog();
    return out;
  }
  // Runs call, which must throw an Error with this code; returns its what().
  template <typename Call>
  std::string Failure(int code, Call call) {
    try {
      call();
    } catch (const Error& e) {
      EXPECT_EQ(make_error_code(code), e.code()) << e.what();
      return e.what();
    }
    ADD_FAILURE() << "no error, expected " << code;
    return {};
  }
  SerialPeer peer;
  DriveModel model;
  Drive drive = Drive();  // opened in SetUp
  const Lines kStatus{"R 2121:00", "R 2122:00", "R 211F:00"};
  static constexpr Profile kProfile{100, 200, 300};
};

TEST_F(CppDrive, TypedAccessTextsAndRequestErrors) {
  drive.Write<int16_t>(0x2600, 0, -2);
  drive.Write<uint32_t>(0x6081, 0, 0x01020304);
  drive.Write<int8_t>(0x6060, 0, -1);
  EXPECT_EQ((Lines{"W 2600:00 FF FE", "W 6081:00 01 02 03 04", "W 6060:00 FF"}), Wire());
  model.SetWord(0x2600, 0, 0xFFFE);
  EXPECT_EQ(-2, drive.Read<int16_t>(0x2600, 0));
  EXPECT_EQ(0xFFFEu, drive.Read<uint16_t>(0x2600, 0));
  EXPECT_EQ(-1, drive.Read<int8_t>(0x2600, 0));
  EXPECT_EQ(100, drive.Position());
  drive.WriteText(0x2702, 1, "E01");
  EXPECT_EQ("E01", drive.ReadText(0x2702, 1));
  Wire();
  EXPECT_NE(std::string::npos, Failure(ZARN_E_STRING_TOO_LONG, [&] {
                                 drive.WriteText(0x2702, 1, std::string(33, 'x'));
                               }).find("WriteText, drive 1"));
  Failure(ZARN_E_INVALID_PARAM, [&] { drive.WriteText(0x2702, 1, std::string("a\0b", 3)); });
  EXPECT_TRUE(Wire().empty());
  // A refused request: the drive's code and message, the operation and the drive.
  EXPECT_EQ("Read, drive 1: Reply Error: Data address is not allowable.",
            Failure(ZARN_E_REPLY_ILLEGAL_ADDRESS, [&] { drive.Read<uint16_t>(0x1234, 0); }));
}

TEST_F(CppDrive, MovesRefusedWithoutAMotionRequest) {
  model.SetWord(0x2121, 0, 0x0013);  // alarm
  model.SetWord(0x603F, 0, 0x7500);
  EXPECT_EQ("MoveAbsolute, drive 1, alarm 0x7500: Motion: The drive reports an alarm.",
            Failure(ZARN_E_ALARM_ACTIVE, [&] { drive.MoveAbsolute(5000, kProfile); }));
  EXPECT_EQ((Lines{"R 2121:00", "R 2122:00", "R 211F:00", "R 603F:00"}), Wire());
  Failure(ZARN_E_ALARM_ACTIVE, [&] { drive.Home(35, HomingProfile{1, 1, 1, 0}, 100ms); });
  Failure(ZARN_E_ALARM_ACTIVE, [&] { drive.Enable(); });
  model.SetWord(0x2121, 0, 0x0010);  // no alarm, servo off, emergency stop latched
  model.SetWord(0x211F, 0, 0x1400);
  Wire();
  Failure(ZARN_E_EMERGENCY_STOP, [&] { drive.MoveRelative(5, kProfile); });
  Failure(ZARN_E_EMERGENCY_STOP, [&] { drive.Enable(); });  // bit 12 set now would energise at the release
  EXPECT_EQ((Lines{"R 2121:00", "R 2122:00", "R 211F:00", "R 2121:00", "R 2122:00", "R 211F:00"}), Wire());
  drive.ReleaseEmergencyStop();  // and the servo enable bit with it
  EXPECT_EQ((Lines{"R 211F:00", "W 211F:00 00 00"}), Wire());
  Failure(ZARN_E_SERVO_OFF, [&] { drive.MoveAbsolute(5000, kProfile); });
  EXPECT_EQ(kStatus, Wire());
}

TEST_F(CppDrive, MoveClearsAStopBitLeftSetThenStarts) {
  model.SetWord(0x211F, 0, 0x1000);
  drive.Stop();
  EXPECT_EQ((Lines{"R 211F:00", "W 211F:00 10 00", "W 211F:00 10 08"}), Wire());
  drive.MoveAbsolute(2000, kProfile);
  Lines expected = kStatus;
  expected.insert(expected.end(), {"R 211F:00", "W 211F:00 10 00", "R 6064:00", "R 6067:00", "W 607A:00 00 00 07 D0",
                                   "W 6081:00 00 00 00 64", "W 6083:00 00 00 00 C8", "W 6084:00 00 00 01 2C",
                                   "R 6040:00", "W 6040:00 00 0F", "W 2120:00 00 00", "W 2120:00 00 01"});
  EXPECT_EQ(expected, Wire());
  drive.MoveRelative(-50, kProfile);  // no stop bit now: no write of 0x211F
  expected = kStatus;
  expected.insert(expected.end(),
                  {"R 6064:00", "R 6067:00", "W 607A:00 FF FF FF CE", "W 6081:00 00 00 00 64", "W 6083:00 00 00 00 C8",
                   "W 6084:00 00 00 01 2C", "R 6040:00", "W 6040:00 00 4F", "W 2120:00 00 00", "W 2120:00 00 01"});
  EXPECT_EQ(expected, Wire());
}

TEST_F(CppDrive, ResetAlarmDisablesFirstAndReportsAnAlarmThatStays) {
  model.SetWord(0x2121, 0, 0x0002);
  model.SetWord(0x603F, 0, 0x5200);
  const auto start = Clock::now();
  EXPECT_EQ("ResetAlarm, drive 1, alarm 0x5200: Servo: The alarm is still active after the reset.",
            Failure(ZARN_E_ALARM_PERSISTS, [&] { drive.ResetAlarm(); }));
  EXPECT_GE(MsSince(start), 500);
  Lines expected = {"R 2121:00", "R 2122:00",       "R 211F:00", "R 603F:00",        // an alarm: go on
                    "R 211F:00", "W 211F:00 00 00",                                  // servo enable off first
                    "R 211F:00", "W 211F:00 08 00", "R 211F:00", "W 211F:00 00 00",  // the reset pulse
                    "R 2121:00", "R 2122:00",       "R 211F:00", "R 603F:00"};
  EXPECT_EQ(expected, Wire());
  model.SetWord(0x2121, 0, 0x0000);  // no alarm: nothing is written
  std::error_code ec = make_error_code(ZARN_E_INTERNAL);
  drive.ResetAlarm(ec);
  EXPECT_FALSE(ec);
  EXPECT_EQ(kStatus, Wire());
}

TEST_F(CppDrive, WaitsAreBoundedAndSayWhatRanOut) {
  model.SetWord(0x2121, 0, 0x0001);  // servo on, never in position, never homed, never reporting servo on
  auto start = Clock::now();
  Failure(ZARN_E_MOVE_TIMEOUT, [&] { drive.WaitMoveDone(100ms); });
  // Bounded: the time-out, one more poll, and the requests before the wait (loose for loaded machines).
  long ms = MsSince(start);
  EXPECT_GE(ms, 100);
  EXPECT_LT(ms, 2000);
  std::error_code ec;
  drive.WaitMoveDone(0ms, ec);  // polls once
  EXPECT_EQ(make_error_code(ZARN_E_MOVE_TIMEOUT), ec);
  start = Clock::now();
  Failure(ZARN_E_HOMING_TIMEOUT, [&] { drive.Home(1, HomingProfile{1000, 100, 10000, 0}, 100ms); });
  EXPECT_LT(MsSince(start), 2000);
  model.SetWord(0x2121, 0, 0x0000);
  start = Clock::now();
  Failure(ZARN_E_SERVO_ON_TIMEOUT, [&] { drive.Enable(100ms); });
  EXPECT_LT(MsSince(start), 2000);
  // A failed request ends the call with its code.
  model.Refuse(0x2121, 0, 6);
  drive.Home(1, HomingProfile{}, 1s, ec);
  EXPECT_EQ(make_error_code(ZARN_E_REPLY_BUSY), ec);
}

TEST_F(CppDrive, ClosedAndMovedFromDrivesMakeNoRequest) {
  Drive other = std::move(drive);
  EXPECT_FALSE(drive.isOpen());
  EXPECT_EQ("Position, drive 1: Connection: There is no connection!",
            Failure(ZARN_E_NO_CONNECTION, [&] { drive.Position(); }));
  std::error_code ec;
  drive.WaitMoveDone(1s, ec);
  EXPECT_EQ(make_error_code(ZARN_E_NO_CONNECTION), ec);
  EXPECT_TRUE(Wire().empty());
  EXPECT_EQ(100, other.Position());
  other.Close();
  uint16_t word = 0;
  EXPECT_EQ(ZARN_E_NO_CONNECTION, ZARN_ReadWord(1, 0x2121, 0, &word));  // the line closed with its last Drive
}

}  // namespace
}  // namespace test
}  // namespace zarn
