// The virtual drive, driven end to end through the library's exports over its
// real transports: motion, homing, alarms, I/O, stored parameters, faults.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "drive.h"
#include "endpoints.h"
#include "peers.h"
#include "zarn/zarn.h"

namespace zarn {
namespace sim {
namespace {

using Clock = std::chrono::steady_clock;
long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

class SimOverUdp : public ::testing::Test {
 protected:
  void SetUp() override { Open(DriveConfig{}); }
  void Open(DriveConfig config) {
    if (drive) ZARN_DriveClose(1);
    endpoint.reset();
    drive.reset();
    config.id = 1;
    drive = std::make_unique<Drive>(config);
    endpoint = std::make_unique<UdpEndpoint>(*drive, "127.0.0.1", 0);
    ASSERT_TRUE(endpoint->Ok());
    ASSERT_EQ(0, ZARN_EDRVOpen(1, "127.0.0.1", endpoint->Port()));
  }
  void TearDown() override { ZARN_DriveClose(1); }
  int32_t Position() {
    int32_t p = 0;
    EXPECT_EQ(0, ZARN_ActualPosition(1, &p));
    return p;
  }
  std::unique_ptr<Drive> drive;
  std::unique_ptr<UdpEndpoint> endpoint;
};

TEST_F(SimOverUdp, TrapezoidalMoveTakesItsTimeAndEndsInPosition) {
  ASSERT_EQ(0, ZARN_Enable(1));
  ASSERT_EQ(0, ZARN_SetCurrentPosition(1, 0));
  // 100000 counts at 200000/s with 1e6/s^2 both ways: 0.2 s up, 0.3 s at speed, 0.2 s down.
  auto start = Clock::now();
  ASSERT_EQ(0, ZARN_MoveAbsolute(1, 100000, 200000, 1000000, 1000000));
  int inPosition = 1;
  ASSERT_EQ(0, ZARN_IsInPosition(1, &inPosition));
  EXPECT_EQ(0, inPosition);                                     // cleared as the move starts
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // mid-cruise
  int32_t velocity = 0;
  ASSERT_EQ(0, ZARN_ActualVelocity(1, &velocity));
  EXPECT_NEAR(200000, velocity, 2000);
  int done = 0;
  ASSERT_EQ(0, ZARN_WaitMoveDone(1, 3000, &done));
  const long ms = MsSince(start);
  EXPECT_EQ(1, done);
  EXPECT_GE(ms, 680);   // 700 ms of motion; a late tick of a loaded machine ends it a step early
  EXPECT_LE(ms, 1100);  // the polls add their requests; a loaded machine adds more
  EXPECT_EQ(100000, Position());
}

TEST_F(SimOverUdp, RelativeAndAbsoluteMoves) {
  ASSERT_EQ(0, ZARN_Enable(1));
  ASSERT_EQ(0, ZARN_ProfileVelocity(1, 1000000));
  ASSERT_EQ(0, ZARN_ProfileAccel(1, 20000000));
  ASSERT_EQ(0, ZARN_ProfileDecel(1, 20000000));
  int done = 0;
  ASSERT_EQ(0, ZARN_MoveAbs(1, 1000));
  ASSERT_EQ(0, ZARN_WaitMoveDone(1, 2000, &done));
  EXPECT_EQ(1000, Position());
  ASSERT_EQ(0, ZARN_MoveRel(1, 500));
  ASSERT_EQ(0, ZARN_WaitMoveDone(1, 2000, &done));
  EXPECT_EQ(1500, Position());
  ASSERT_EQ(0, ZARN_MoveRelative(1, -3500, 500000, 10000000, 10000000));
  ASSERT_EQ(0, ZARN_WaitMoveDone(1, 2000, &done));
  EXPECT_EQ(-2000, Position());
  ASSERT_EQ(0, ZARN_MoveAbs(1, 200));
  ASSERT_EQ(0, ZARN_WaitMoveDone(1, 2000, &done));
  EXPECT_EQ(200, Position());
}

TEST_F(SimOverUdp, MovesNeedTheServoAndNoAlarm) {
  int done = 0;
  ASSERT_EQ(0, ZARN_MoveAbs(1, 5000));  // servo off: nothing moves
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(0, Position());
  ASSERT_EQ(0, ZARN_Enable(1));
  ASSERT_EQ(0, ZARN_EmergencyStop(1));
  int enabled = 1;
  ASSERT_EQ(0, ZARN_IsEnabled(1, &enabled));
  EXPECT_EQ(0, enabled);
  ASSERT_EQ(0, ZARN_Enable(1));  // emergency stop still set: still no motion
  ASSERT_EQ(0, ZARN_MoveAbs(1, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(0, Position());
  ASSERT_EQ(0, ZARN_SetDriveControlInput1(1, 10, 0));
  ASSERT_EQ(0, ZARN_MoveAbs(1, 5000));
  ASSERT_EQ(0, ZARN_WaitMoveDone(1, 2000, &done));
  EXPECT_EQ(1, done);
  EXPECT_EQ(5000, Position());
}

TEST_F(SimOverUdp, StopDeceleratesWithTheQuickStopRamp) {
  ASSERT_EQ(0, ZARN_Enable(1));
  ASSERT_EQ(0, ZARN_StopDecel(1, 2000000));
  ASSERT_EQ(0, ZARN_MoveAbsolute(1, 1000000, 200000, 1000000, 1000000));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  ASSERT_EQ(0, ZARN_Stop(1));
  int done = 0;
  ASSERT_EQ(0, ZARN_WaitMoveDone(1, 1000, &done));
  EXPECT_EQ(1, done);
  const int32_t stoppedAt = Position();
  EXPECT_LT(stoppedAt, 100000);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(stoppedAt, Position());
}

TEST_F(SimOverUdp, HomingMethods) {
  ASSERT_EQ(0, ZARN_Enable(1));
  ASSERT_EQ(0, ZARN_SetCurrentPosition(1, 5000));  // method 35
  int home = 0;
  ASSERT_EQ(0, ZARN_IsHome(1, &home));
  EXPECT_EQ(1, home);
  EXPECT_EQ(5000, Position());
  // Method 1 searches the home sensor, which sits at 0 before the shift: now 5000.
  ASSERT_EQ(0, ZARN_MoveAbs(1, 8000));
  int done = 0;
  ASSERT_EQ(0, ZARN_WaitMoveDone(1, 2000, &done));
  ASSERT_EQ(0, ZARN_Homing(1, 1, 100000, 10000, 2000000, -7));
  ASSERT_EQ(0, ZARN_IsHome(1, &home));
  EXPECT_EQ(0, home);
  for (int i = 0; i < 100 && !home; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(0, ZARN_IsHome(1, &home));
  }
  EXPECT_EQ(1, home);
  EXPECT_EQ(-7, Position());
  int sensor = 0;
  ASSERT_EQ(0, ZARN_IsHomeSensor(1, &sensor));
  EXPECT_EQ(1, sensor);
}

TEST_F(SimOverUdp, LimitSwitchRaisesAnAlarmWithHistory) {
  DriveConfig config;
  config.positiveLimit = 3000;
  Open(config);
  ASSERT_EQ(0, ZARN_ClearAlarmHistory(1));
  ASSERT_EQ(0, ZARN_Enable(1));
  ASSERT_EQ(0, ZARN_MoveAbsolute(1, 10000, 100000, 10000000, 10000000));
  int done = 0;
  ASSERT_EQ(0, ZARN_WaitMoveDone(1, 1000, &done));
  int alarm = 0, limit = 0;
  uint16_t code = 0;
  ASSERT_EQ(0, ZARN_IsAlarm(1, &alarm, &code));
  EXPECT_EQ(1, alarm);
  EXPECT_EQ(0xFF11, code);
  ASSERT_EQ(0, ZARN_IsPositiveLimit(1, &limit));
  EXPECT_EQ(1, limit);
  EXPECT_GE(Position(), 3000);
  EXPECT_LT(Position(), 3200);
  char text[33];
  ASSERT_EQ(0, ZARN_GetAlarmHistory(1, 1, text));
  EXPECT_STREQ("AL-FF11 positive limit", text);
  ASSERT_EQ(0, ZARN_MoveAbs(1, 0));  // in alarm: no motion
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_GE(Position(), 3000);
  ASSERT_EQ(0, ZARN_ResetAlarm(1));
  ASSERT_EQ(0, ZARN_IsAlarm(1, &alarm, &code));
  EXPECT_EQ(0, alarm);
  ASSERT_EQ(0, ZARN_MoveAbs(1, 0));
  ASSERT_EQ(0, ZARN_WaitMoveDone(1, 2000, &done));
  EXPECT_EQ(0, Position());
  ASSERT_EQ(0, ZARN_ClearAlarmHistory(1));
  ASSERT_EQ(0, ZARN_GetAlarmHistory(1, 1, text));
  EXPECT_STREQ("", text);
}

TEST_F(SimOverUdp, OutputsWithMaskAndSignalMaps) {
  ASSERT_EQ(0, ZARN_SetDigitalOutputs(1, 0x0000000F));
  uint32_t outputs = 0;
  ASSERT_EQ(0, ZARN_GetDigitalOutputs(1, &outputs));
  EXPECT_EQ(0x0Fu, outputs);
  ASSERT_EQ(0, ZARN_SetDigitalOutputsWithMask(1, 0x000000F0, 0x00000030));
  ASSERT_EQ(0, ZARN_GetDigitalOutputs(1, &outputs));
  EXPECT_EQ(0x3Fu, outputs);  // only the masked bits changed
  ASSERT_EQ(0, ZARN_SetDigitalOutputsWithMask(1, 0x00000000, 0x00000001));
  ASSERT_EQ(0, ZARN_GetDigitalOutputs(1, &outputs));
  EXPECT_EQ(0x3Eu, outputs);
  ASSERT_EQ(0, ZARN_SetDigitalInputSignals(1, 3, 0x0021, 1));
  uint16_t signal = 0, flag = 0;
  ASSERT_EQ(0, ZARN_GetDigitalInputSignals(1, 3, &signal, &flag));
  EXPECT_EQ(0x21, signal);
  EXPECT_EQ(1, flag);
  ASSERT_EQ(0, ZARN_GetDigitalOutputSignals(1, 2, &signal, &flag));
  EXPECT_EQ(2, signal);
  EXPECT_EQ(0, flag);
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_ADDRESS, ZARN_GetDigitalInputSignals(1, 200, &signal, &flag));
}

TEST_F(SimOverUdp, DictionaryWidthsAndIndexMoves) {
  uint16_t u16 = 0;
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_ADDRESS, ZARN_ReadWord(1, 0x1234, 0, &u16));
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_DATA, ZARN_WriteWord(1, 0x6081, 0, 5));  // a 32-bit object
  // The drive's own values are refused to writers, as on a drive.
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_ADDRESS, ZARN_WriteDWordS(1, 0x6064, 0, 5));
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_ADDRESS, ZARN_WriteWord(1, 0x2121, 0, 0x0010));
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_ADDRESS, ZARN_WriteWord(1, 0x603F, 0, 0));
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2003, 0, &u16));
  IndexParameter record = {};
  record.sub1 = 0;  // absolute
  record.sub2 = 4321;
  record.sub3 = 500000;
  record.sub4 = 10000000;
  record.sub5 = 10000000;
  ASSERT_EQ(0, ZARN_WriteIndexParameter(1, 2, &record));
  IndexParameter back = {};
  ASSERT_EQ(0, ZARN_ReadIndexParameter(1, 2, &back));
  EXPECT_EQ(0, memcmp(&record.sub1, &back.sub1, sizeof record - 4));
  ASSERT_EQ(0, ZARN_Enable(1));
  ASSERT_EQ(0, ZARN_MoveIndex(1, 2));
  int ended = 0;
  for (int i = 0; i < 100 && !ended; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(0, ZARN_IsEndIndex(1, &ended));
  }
  EXPECT_EQ(1, ended);
  EXPECT_EQ(4321, Position());
}

TEST(SimState, StoredParametersSurviveARestart) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("zarn-sim-state-" + std::to_string(Clock::now().time_since_epoch().count())))
                               .string();
  DriveConfig config;
  config.statePath = path;
  {
    Drive drive(config);
    UdpEndpoint endpoint(drive, "127.0.0.1", 0);
    ASSERT_EQ(0, ZARN_EDRVOpen(1, "127.0.0.1", endpoint.Port()));
    ASSERT_EQ(0, ZARN_ProfileVelocity(1, 12345));
    ASSERT_EQ(0, ZARN_SetPosGainKp(1, 55));
    ASSERT_EQ(0, ZARN_StoreParameter(1));
    ASSERT_EQ(0, ZARN_SetPosGainKp(1, 77));
    ASSERT_EQ(0, ZARN_StoreParameter(1));    // replaces the stored file
    ASSERT_EQ(0, ZARN_SetPosGainKp(1, 99));  // changed after the store: lost at restart
    ZARN_DriveClose(1);
  }
  Drive drive(config);
  UdpEndpoint endpoint(drive, "127.0.0.1", 0);
  ASSERT_EQ(0, ZARN_EDRVOpen(1, "127.0.0.1", endpoint.Port()));
  uint16_t kp = 0;
  ASSERT_EQ(0, ZARN_GetPosGainKp(1, &kp));
  EXPECT_EQ(77, kp);
  EXPECT_EQ(12345, drive.Value(0x6081, 0));
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_DATA, ZARN_WriteDWord(1, 0x1010, 1, 0x12345678));  // not "save"
  ZARN_DriveClose(1);
  remove(path.c_str());
}

TEST(SimFaults, EachFaultDoesWhatItSays) {
  Drive one(DriveConfig{}), two([] {
    DriveConfig c;
    c.id = 2;
    return c;
  }());
  const test::LinkedPorts ports = test::LinkedSerialPorts();
  SerialEndpoint line({&one, &two}, ports.farEnd, 115200);
  ASSERT_TRUE(line.Ok()) << line.Error();
  const std::string port = ports.library.empty() ? line.Path() : ports.library;
  UdpEndpoint udp(one, "127.0.0.1", 0);
  ASSERT_EQ(0, ZARN_SDRVOpen(1, port.c_str(), 115200));
  ASSERT_EQ(0, ZARN_SDRVOpen(2, port.c_str(), 115200));
  ASSERT_EQ(0, ZARN_SDRVOpen(3, port.c_str(), 115200));
  ASSERT_EQ(0, ZARN_EDRVOpen(4, "127.0.0.1", udp.Port()));
  one.SetValue(0x2100, 0, 111);
  two.SetValue(0x2100, 0, 222);
  uint16_t v = 0;
  // Two drives on one line answer only their own addresses; nobody answers 3.
  ASSERT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &v));
  EXPECT_EQ(111, v);
  ASSERT_EQ(0, ZARN_ReadWord(2, 0x2100, 0, &v));
  EXPECT_EQ(222, v);
  EXPECT_EQ(ZARN_E_SERIAL_NO_REPLY, ZARN_GetInertiaRatio(3, &v));

  Faults f;
  f.delayMs = 300;
  one.SetFaults(f);
  auto start = Clock::now();
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &v));
  EXPECT_GE(MsSince(start), 300);
  f = Faults();
  f.chunkSize = 3;
  f.chunkGapMs = 10;
  one.SetFaults(f);
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &v));
  EXPECT_EQ(111, v);
  f = Faults();
  f.badCrc = true;
  one.SetFaults(f);
  EXPECT_EQ(ZARN_E_SERIAL_CRC, ZARN_ReadWord(1, 0x2100, 0, &v));
  f = Faults();
  f.badEcho = true;
  one.SetFaults(f);
  EXPECT_EQ(ZARN_E_SERIAL_ECHO, ZARN_ReadWord(1, 0x2100, 0, &v));
  EXPECT_EQ(ZARN_E_ETH_ECHO, ZARN_ReadWord(4, 0x2100, 0, &v));
  f = Faults();
  f.refuse = true;
  f.refuseIndex = 0x2100;
  f.refuseCode = 6;
  one.SetFaults(f);
  EXPECT_EQ(ZARN_E_REPLY_BUSY, ZARN_ReadWord(1, 0x2100, 0, &v));
  EXPECT_EQ(ZARN_E_REPLY_BUSY, ZARN_ReadWord(4, 0x2100, 0, &v));
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2101, 0, &v));
  f = Faults();
  f.oversize = true;
  one.SetFaults(f);
  EXPECT_EQ(ZARN_E_SERIAL_CRC, ZARN_ReadWord(1, 0x2100, 0, &v));  // 65 bytes kept of 100
  // The library stops reading at the 65th byte; the tail may still be on the
  // line (it is through Wine's COM ports), and the next request must not take it.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  f = Faults();
  f.dropShare = 1.0;
  one.SetFaults(f);
  EXPECT_EQ(ZARN_E_SERIAL_NO_REPLY, ZARN_ReadWord(1, 0x2100, 0, &v));
  f.dropShare = 0.5;
  f.seed = 7;
  one.SetFaults(f);
  int answered = 0;  // each dropped reply costs the one to two seconds of a missing reply
  for (int i = 0; i < 6; ++i) answered += ZARN_ReadWord(4, 0x2100, 0, &v) == 0;
  EXPECT_GT(answered, 0);
  EXPECT_LT(answered, 6);
  one.SetFaults(Faults());
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &v));
  ZARN_DriveClose(1);
  ZARN_DriveClose(4);
}

}  // namespace
}  // namespace sim
}  // namespace zarn
