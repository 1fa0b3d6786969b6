// The drive's object map as the library uses it: one table that the named
// exports, the virtual drive and the command-line tool all read.
#pragma once

#include <cstdint>

namespace zarn {
namespace objects {

// What an object is to the drive: a monitor or status the drive alone writes,
// a command the host writes to make something happen, or a setting that the
// drive keeps when told to store its parameters.
enum class Access : uint8_t { kMonitor, kCommand, kSetting };

struct Object {
  uint16_t index;
  uint8_t subIndex;
  uint8_t width;  // data bytes; 0 for a text
  bool isSigned;
  Access access;
  const char* name;     // the identifier below, e.g. "ActualPosition"
  const char* meaning;  // what the library uses it for
};

// X(identifier, index, subindex, width, signed, access, meaning)
#define ZARN_OBJECT_MAP(X)                                                                  \
  X(StoreParameters, 0x1010, 1, 4, false, kCommand, "store parameters (\"save\")")          \
  X(StoreParametersAll, 0x1010, 5, 4, false, kCommand, "store parameters, all (\"save\")")  \
  X(OpenProbe, 0x2003, 0, 2, false, kMonitor, "drive identification read at open")          \
  X(InertiaRatio, 0x2100, 0, 2, false, kSetting, "inertia ratio")                           \
  X(PosGainKp, 0x2101, 0, 2, false, kSetting, "position loop gain Kp")                      \
  X(VelGainKp, 0x2102, 0, 2, false, kSetting, "velocity loop gain Kp")                      \
  X(VelGainKiT, 0x2103, 0, 2, false, kSetting, "velocity loop integral time KiT")           \
  X(PosGainKvff, 0x210C, 0, 2, false, kSetting, "velocity feed-forward gain Kvff")          \
  X(PosGainKvffFilter, 0x210D, 0, 2, false, kSetting, "velocity feed-forward filter")       \
  X(ControlInput1, 0x211F, 0, 2, false, kCommand, "drive control input 1")                  \
  X(ControlInput2, 0x2120, 0, 2, false, kCommand, "drive control input 2")                  \
  X(StateOutput, 0x2121, 0, 2, false, kMonitor, "drive state output")                       \
  X(HomingState, 0x2122, 0, 2, false, kMonitor, "homing and index state")                   \
  X(VelocityLimitSelect, 0x230D, 0, 2, false, kSetting, "velocity limit selection")         \
  X(VelocityLimit, 0x230E, 0, 2, false, kSetting, "velocity limit")                         \
  X(HomeTorqueLimit1, 0x2409, 0, 2, false, kSetting, "homing torque limit, first value")    \
  X(HomeTorqueLimit2, 0x240A, 0, 2, false, kSetting, "homing torque limit, second value")   \
  X(CurrentGain, 0x2514, 0, 2, false, kSetting, "current loop gain")                        \
  X(FeedbackSpeed, 0x2600, 0, 2, true, kMonitor, "feedback speed")                          \
  X(AccumOverload, 0x2603, 0, 2, true, kMonitor, "accumulated overload")                    \
  X(DcLinkVoltage, 0x2605, 0, 2, false, kMonitor, "DC-link voltage")                        \
  X(SingleTurnData, 0x2607, 0, 4, false, kMonitor, "single-turn encoder data")              \
  X(MultiTurnData, 0x260A, 0, 2, false, kMonitor, "multi-turn encoder data")                \
  X(DriveTemperature, 0x260B, 0, 2, true, kMonitor, "drive temperature")                    \
  X(WarningCode, 0x2614, 0, 2, false, kMonitor, "warning code")                             \
  X(ProcedureCommand, 0x2700, 0, 2, false, kCommand, "procedure command code")              \
  X(ProcedureArgument, 0x2701, 0, 2, false, kCommand, "procedure command argument")         \
  X(ControlMode, 0x3000, 0, 2, false, kSetting, "control mode")                             \
  X(IndexNumber, 0x3008, 0, 2, false, kCommand, "index number for an index move")           \
  X(ErrorCode, 0x603F, 0, 2, false, kMonitor, "error code")                                 \
  X(ControlWord, 0x6040, 0, 2, false, kSetting, "control word")                             \
  X(OperationMode, 0x6060, 0, 1, true, kSetting, "modes of operation")                      \
  X(ActualPosition, 0x6064, 0, 4, true, kMonitor, "position actual value")                  \
  X(PositionWindow, 0x6067, 0, 4, false, kSetting, "position window")                       \
  X(PositionWindowTime, 0x6068, 0, 2, false, kSetting, "position window time")              \
  X(ActualVelocity, 0x606C, 0, 4, true, kMonitor, "velocity actual value")                  \
  X(VelocityWindow, 0x606D, 0, 4, false, kSetting, "velocity window")                       \
  X(VelocityWindowTime, 0x606E, 0, 2, false, kSetting, "velocity window time")              \
  X(TargetTorque, 0x6071, 0, 4, true, kCommand, "target torque")                            \
  X(ActualTorque, 0x6077, 0, 2, true, kMonitor, "torque actual value")                      \
  X(TargetPosition, 0x607A, 0, 4, true, kCommand, "target position")                        \
  X(HomeOffset, 0x607C, 0, 4, true, kSetting, "home offset")                                \
  X(MaxProfileVelocity, 0x607F, 0, 4, false, kSetting, "maximum profile velocity")          \
  X(ProfileVelocity, 0x6081, 0, 4, false, kSetting, "profile velocity")                     \
  X(ProfileAcceleration, 0x6083, 0, 4, false, kSetting, "profile acceleration")             \
  X(ProfileDeceleration, 0x6084, 0, 4, false, kSetting, "profile deceleration")             \
  X(QuickStopDeceleration, 0x6085, 0, 4, false, kSetting, "quick stop deceleration")        \
  X(TorqueSlope, 0x6087, 0, 4, false, kSetting, "torque slope")                             \
  X(GearMotor, 0x6091, 1, 4, false, kSetting, "gear ratio, motor revolutions")              \
  X(GearShaft, 0x6091, 2, 4, false, kSetting, "gear ratio, shaft revolutions")              \
  X(HomingMethod, 0x6098, 0, 1, true, kSetting, "homing method")                            \
  X(HomingSwitchSpeed, 0x6099, 1, 4, true, kSetting, "homing speed, search for switch")     \
  X(HomingZeroSpeed, 0x6099, 2, 4, true, kSetting, "homing speed, search for zero")         \
  X(HomingAcceleration, 0x609A, 0, 4, false, kSetting, "homing acceleration")               \
  X(TouchProbeFunction, 0x60B8, 0, 2, false, kSetting, "touch probe function")              \
  X(TouchProbeStatus, 0x60B9, 0, 2, false, kMonitor, "touch probe status")                  \
  X(TouchProbe1Positive, 0x60BA, 0, 4, true, kMonitor, "touch probe 1 positive edge value") \
  X(TouchProbe1Negative, 0x60BB, 0, 4, true, kMonitor, "touch probe 1 negative edge value") \
  X(TouchProbe2Positive, 0x60BC, 0, 4, true, kMonitor, "touch probe 2 positive edge value") \
  X(TouchProbe2Negative, 0x60BD, 0, 4, true, kMonitor, "touch probe 2 negative edge value") \
  X(DigitalInputs, 0x60FD, 0, 4, false, kMonitor, "digital inputs")                         \
  X(DigitalOutputs, 0x60FE, 1, 4, false, kCommand, "digital outputs, physical outputs")     \
  X(DigitalOutputMask, 0x60FE, 2, 4, false, kCommand, "digital outputs, bit mask")          \
  X(TargetVelocity, 0x60FF, 0, 4, true, kCommand, "target velocity")

#define ZARN_OBJECT_CONSTANT_(id, index, sub, width, isSigned, access, meaning) \
  constexpr Object id{index, sub, width, isSigned, Access::access, #id, meaning};
ZARN_OBJECT_MAP(ZARN_OBJECT_CONSTANT_)
#undef ZARN_OBJECT_CONSTANT_

constexpr Object kAll[] = {
#define ZARN_OBJECT_ENTRY_(id, index, sub, width, isSigned, access, meaning) id,
    ZARN_OBJECT_MAP(ZARN_OBJECT_ENTRY_)
#undef ZARN_OBJECT_ENTRY_
};

// Families addressed by number.
constexpr uint16_t kInputSignalBase = 0x21FF;   // + n, n >= 1
constexpr uint16_t kOutputSignalBase = 0x220F;  // + n, n >= 1
constexpr uint16_t kAlarmHistory = 0x2702;      // :n, a text
constexpr uint16_t kIndexParameterBase = 0x3100;

// Homing method 35 of CiA 402: the current position becomes the home offset, without motion.
constexpr int8_t kHomeOnCurrentPosition = 35;

// Bits of the command and status words.
namespace bits {
constexpr int kStop = 3;            // 0x211F
constexpr int kEmergencyStop = 10;  // 0x211F
constexpr int kAlarmReset = 11;     // 0x211F
constexpr int kServoEnable = 12;    // 0x211F
constexpr int kStart = 0;           // 0x2120
constexpr int kHomingStart = 3;     // 0x2120
constexpr int kServoOn = 0;         // 0x2121: the drive reports the motor energised
constexpr int kAlarm = 1;           // 0x2121
constexpr int kInPosition = 4;      // 0x2121
constexpr int kTorqueLimit = 5;     // 0x2121
constexpr int kInVelocity = 7;      // 0x2121
constexpr int kHomingDone = 0;      // 0x2122
constexpr int kIndexEnded = 1;      // 0x2122
constexpr int kRelative = 6;        // 0x6040
constexpr int kNegativeLimit = 0;   // 0x60FD
constexpr int kPositiveLimit = 1;   // 0x60FD
constexpr int kHomeSwitch = 2;      // 0x60FD
constexpr int kSignalFlag = 12;     // signal configuration words
}  // namespace bits

}  // namespace objects
}  // namespace zarn
