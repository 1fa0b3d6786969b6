// The C++ API against zarn-sim, a drive that behaves as real ones do: each
// trap of the C functions (a stale in-position bit, an alarm during a move, a
// latched emergency stop, homing twice, a reset under a lasting alarm) met
// and handled; the destructor's closing of UDP and shared serial connections.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "drive.h"
#include "endpoints.h"
#include "peers.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr Profile kProfile{200000, 1000000, 1000000};  // 100000 counts: 0.7 s

class CppSim : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::DriveConfig config;
    config.staleInPositionMs = 30;  // as the drives the C functions were seen failing on
    Open(config);
  }
  void Open(sim::DriveConfig config) {
    drive = Drive();
    endpoint.reset();
    model = std::make_unique<sim::Drive>(config);
    endpoint = std::make_unique<sim::UdpEndpoint>(*model, "127.0.0.1", 0);
    ASSERT_TRUE(endpoint->Ok());
    drive = Drive::OpenUdp(1, "127.0.0.1", endpoint->Port());
    drive.Enable();
    drive.Home(35, HomingProfile{0, 0, 0, 0}, 1s);
    drive.WaitMoveDone(1s);  // at rest and in position
  }
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
  std::unique_ptr<sim::Drive> model;
  std::unique_ptr<sim::UdpEndpoint> endpoint;
  Drive drive;
};

TEST_F(CppSim, StaleInPositionEndsTheCWaitEarlyButNotThisOne) {
  ASSERT_EQ(0, ZARN_MoveAbsolute(1, 20000, kProfile.velocity, kProfile.acceleration, kProfile.deceleration));
  int done = 0;
  ASSERT_EQ(0, ZARN_WaitMoveDone(1, 5000, &done));
  EXPECT_EQ(1, done);  // the bit left over from the last move
  EXPECT_LT(drive.Position(), 20000);
  std::this_thread::sleep_for(50ms);  // the bit has dropped: wait for it to come back
  drive.WaitMoveDone(5s);
  EXPECT_EQ(20000, drive.Position());
  // Through the C++ API the same drive's moves end where they should.
  drive.MoveRelative(-5000, kProfile);
  drive.WaitMoveDone(5s);
  EXPECT_EQ(15000, drive.Position());
  drive.MoveAbsolute(15000, kProfile);  // already there: done without waiting for a drop
  const auto start = Clock::now();
  drive.WaitMoveDone(5s);
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_TRUE(drive.Status().inPosition);
}

TEST_F(CppSim, AlarmDuringAMoveStopsTheWaitAndTheNextMove) {
  drive.MoveAbsolute(100000, kProfile);
  std::this_thread::sleep_for(100ms);
  model->RaiseAlarm(0x7100, "overcurrent");
  EXPECT_EQ("WaitMoveDone, drive 1, alarm 0x7100: Motion: The drive reports an alarm.",
            Failure(ZARN_E_ALARM_ACTIVE, [&] { drive.WaitMoveDone(5s); }));
  const int32_t stoppedAt = drive.Position();
  EXPECT_LT(stoppedAt, 100000);
  Failure(ZARN_E_ALARM_ACTIVE, [&] { drive.MoveAbsolute(0, kProfile); });
  drive.ResetAlarm();
  DriveStatus s = drive.Status();
  EXPECT_FALSE(s.alarm);
  EXPECT_FALSE(s.servoOn);  // the reset does not re-energise the motor
  EXPECT_FALSE(s.servoEnableCommand);
  Failure(ZARN_E_SERVO_OFF, [&] { drive.MoveAbsolute(0, kProfile); });
  EXPECT_EQ(stoppedAt, drive.Position());
  drive.Enable();
  drive.MoveAbsolute(0, kProfile);
  drive.WaitMoveDone(5s);
  EXPECT_EQ(0, drive.Position());
}

TEST_F(CppSim, EmergencyStopStaysLatchedUntilReleasedAndReleaseLeavesTheServoOff) {
  drive.MoveAbsolute(100000, kProfile);
  std::this_thread::sleep_for(100ms);
  drive.EmergencyStop();
  Failure(ZARN_E_EMERGENCY_STOP, [&] { drive.WaitMoveDone(5s); });
  EXPECT_TRUE(drive.Status().emergencyStop);
  Failure(ZARN_E_EMERGENCY_STOP, [&] { drive.Enable(); });
  Failure(ZARN_E_EMERGENCY_STOP, [&] { drive.MoveAbsolute(0, kProfile); });
  drive.ReleaseEmergencyStop();
  const DriveStatus s = drive.Status();
  EXPECT_FALSE(s.emergencyStop);
  EXPECT_FALSE(s.servoOn);
  drive.Enable();
  EXPECT_TRUE(drive.Status().servoOn);
  drive.MoveAbsolute(0, kProfile);
  drive.WaitMoveDone(5s);
  EXPECT_EQ(0, drive.Position());
}

TEST_F(CppSim, HomingTwiceHomesTwice) {
  drive.MoveAbsolute(3000, kProfile);
  drive.WaitMoveDone(5s);
  drive.Home(35, HomingProfile{0, 0, 0, 100}, 1s);
  EXPECT_EQ(100, drive.Position());
  drive.MoveRelative(500, kProfile);
  drive.WaitMoveDone(5s);
  drive.Home(35, HomingProfile{0, 0, 0, 100}, 1s);
  EXPECT_EQ(100, drive.Position());
  // The C function too gives a new edge each time now.
  drive.MoveRelative(700, kProfile);
  drive.WaitMoveDone(5s);
  ASSERT_EQ(0, ZARN_Homing(1, 35, 0, 0, 0, -5));
  EXPECT_EQ(-5, drive.Position());
  // A search for the home sensor makes the sensor's place the offset.
  drive.Home(1, HomingProfile{200000, 20000, 4000000, 42}, 5s);
  EXPECT_EQ(42, drive.Position());
  EXPECT_TRUE(drive.Status().homed);
}

TEST_F(CppSim, ResetUnderALastingAlarmSaysSoAndWorksOnceItIsGone) {
  sim::Faults faults;
  faults.persistentAlarm = 0x5200;
  model->SetFaults(faults);
  std::this_thread::sleep_for(20ms);
  std::error_code ec;
  drive.ResetAlarm(ec);
  EXPECT_EQ(make_error_code(ZARN_E_ALARM_PERSISTS), ec);
  EXPECT_EQ(0x5200, drive.Status().alarmCode);
  model->SetFaults(sim::Faults());
  drive.ResetAlarm();
  EXPECT_FALSE(drive.Status().alarm);
}

TEST_F(CppSim, StopThenTheNextMoveClearsTheStopBit) {
  drive.MoveAbsolute(100000, kProfile);
  std::this_thread::sleep_for(100ms);
  drive.Stop();
  drive.WaitMoveDone(5s);  // at rest where the stop ramp ended
  EXPECT_LT(drive.Position(), 100000);
  EXPECT_TRUE(drive.Status().stopCommand);
  drive.MoveAbsolute(1000, kProfile);
  EXPECT_FALSE(drive.Status().stopCommand);
  drive.WaitMoveDone(5s);
  EXPECT_EQ(1000, drive.Position());
}

TEST(CppSimConnections, DestructorsCloseUdpAndTheLastOneTheSerialLine) {
  auto config = [](uint8_t id) {
    sim::DriveConfig c;
    c.id = id;
    return c;
  };
  sim::Drive one(config(7)), two(config(8));
  sim::UdpEndpoint udp(one, "127.0.0.1", 0);
  const test::LinkedPorts ports = test::LinkedSerialPorts();
  sim::SerialEndpoint line({&one, &two}, ports.farEnd, 115200);
  ASSERT_TRUE(line.Ok()) << line.Error();
  const std::string port = ports.library.empty() ? line.Path() : ports.library;
  uint16_t word = 0;
  {
    Drive overUdp = Drive::OpenUdp(9, "127.0.0.1", udp.Port());
    EXPECT_EQ(0, overUdp.Position());
  }
  EXPECT_EQ(ZARN_E_NO_CONNECTION, ZARN_ReadWord(9, 0x2121, 0, &word));
  {
    Drive first = Drive::OpenSerial(7, port, 115200);
    try {
      Drive::OpenSerial(8, port, 9600);
      ADD_FAILURE() << "the line is open at 115200";
    } catch (const Error& e) {
      EXPECT_EQ(make_error_code(ZARN_E_SERIAL_OPEN), e.code());
    }
    Drive second = Drive::OpenSerial(8, port, 115200);
    first = Drive();  // the line stays open for the second drive
    EXPECT_EQ(0, second.Position());
    first = Drive::OpenSerial(7, port, 115200);  // an id released on a line still open
    EXPECT_EQ(0, first.Position());
  }
  EXPECT_EQ(ZARN_E_NO_CONNECTION, ZARN_ReadWord(7, 0x2121, 0, &word));
  EXPECT_EQ(ZARN_E_NO_CONNECTION, ZARN_ReadWord(8, 0x2121, 0, &word));
  Drive again = Drive::OpenSerial(8, port, 115200);  // every id was closed with the line
  EXPECT_EQ(0, again.Position());
}

}  // namespace
}  // namespace zarn
