// Named readers and writers of single drive objects, and the pair writers.
#include "services/named.h"
#include "zarn/zarn.h"

using namespace zarn;

// X(export, object, value type)
#define ZARN_NAMED_READERS(X)                                        \
  X(ZARN_GetInertiaRatio, InertiaRatio, uint16_t)                    \
  X(ZARN_GetPosGainKp, PosGainKp, uint16_t)                          \
  X(ZARN_GetVelGainKp, VelGainKp, uint16_t)                          \
  X(ZARN_GetVelGainKiT, VelGainKiT, uint16_t)                        \
  X(ZARN_GetPosGainKvff, PosGainKvff, uint16_t)                      \
  X(ZARN_GetPosGainKvff_flt, PosGainKvffFilter, uint16_t)            \
  X(ZARN_GetCurGain, CurrentGain, uint16_t)                          \
  X(ZARN_FeedbackSpeed, FeedbackSpeed, int16_t)                      \
  X(ZARN_AccumOverload, AccumOverload, int16_t)                      \
  X(ZARN_DCLinkVoltage, DcLinkVoltage, uint16_t)                     \
  X(ZARN_SingleTurnData, SingleTurnData, uint32_t)                   \
  X(ZARN_MultiTurnData, MultiTurnData, uint16_t)                     \
  X(ZARN_DriveTemp, DriveTemperature, int16_t)                       \
  X(ZARN_WarningCode, WarningCode, uint16_t)                         \
  X(ZARN_ActualPosition, ActualPosition, int32_t)                    \
  X(ZARN_ActualVelocity, ActualVelocity, int32_t)                    \
  X(ZARN_ActualTorque, ActualTorque, int16_t)                        \
  X(ZARN_TouchProbeStatus, TouchProbeStatus, uint16_t)               \
  X(ZARN_TouchProbe1PositiveEdgeValue, TouchProbe1Positive, int32_t) \
  X(ZARN_TouchProbe1NegativeEdgeValue, TouchProbe1Negative, int32_t) \
  X(ZARN_TouchProbe2PositiveEdgeValue, TouchProbe2Positive, int32_t) \
  X(ZARN_TouchProbe2NegativeEdgeValue, TouchProbe2Negative, int32_t)

#define ZARN_NAMED_WRITERS(X)                             \
  X(ZARN_SetInertiaRatio, InertiaRatio, uint16_t)         \
  X(ZARN_SetPosGainKp, PosGainKp, uint16_t)               \
  X(ZARN_SetVelGainKp, VelGainKp, uint16_t)               \
  X(ZARN_SetVelGainKiT, VelGainKiT, uint16_t)             \
  X(ZARN_SetPosGainKvff, PosGainKvff, uint16_t)           \
  X(ZARN_SetPosGainKvff_flt, PosGainKvffFilter, uint16_t) \
  X(ZARN_SetCurGain, CurrentGain, uint16_t)               \
  X(ZARN_SelVelocityLimit, VelocityLimitSelect, uint16_t) \
  X(ZARN_SetVelocityLimit, VelocityLimit, uint16_t)       \
  X(ZARN_TorqueVelLimit, MaxProfileVelocity, uint32_t)    \
  X(ZARN_ProfileVelocity, ProfileVelocity, uint32_t)      \
  X(ZARN_ProfileAccel, ProfileAcceleration, uint32_t)     \
  X(ZARN_ProfileDecel, ProfileDeceleration, uint32_t)     \
  X(ZARN_StopDecel, QuickStopDeceleration, uint32_t)      \
  X(ZARN_TorqueSlope, TorqueSlope, uint32_t)              \
  X(ZARN_TargetTorque, TargetTorque, int32_t)             \
  X(ZARN_TargetVelocity, TargetVelocity, int32_t)         \
  X(ZARN_TouchProbeFunction, TouchProbeFunction, uint16_t)

// X(export, first object, first type, second object, second type)
#define ZARN_PAIR_WRITERS(X)                                                    \
  X(ZARN_SetInPosition, PositionWindow, uint32_t, PositionWindowTime, uint16_t) \
  X(ZARN_SetInVelocity, VelocityWindow, uint32_t, VelocityWindowTime, uint16_t) \
  X(ZARN_SetElecGearRatio, GearMotor, uint32_t, GearShaft, uint32_t)            \
  X(ZARN_HomeTorqueLimit, HomeTorqueLimit1, uint16_t, HomeTorqueLimit2, uint16_t)

#define ZARN_DEFINE_READER_(fn, object, T)                                            \
  static_assert(sizeof(T) == objects::object.width, #fn " reads the object's width"); \
  ZARN_API int32_t ZARN_CALL fn(uint8_t driveId, T* value) { return ReadNamed(driveId, objects::object, value); }

#define ZARN_DEFINE_WRITER_(fn, object, T)                                             \
  static_assert(sizeof(T) == objects::object.width, #fn " writes the object's width"); \
  ZARN_API int32_t ZARN_CALL fn(uint8_t driveId, T value) { return WriteNamed(driveId, objects::object, value); }

#define ZARN_DEFINE_PAIR_(fn, first, T1, second, T2)                                             \
  static_assert(sizeof(T1) == objects::first.width && sizeof(T2) == objects::second.width, #fn); \
  ZARN_API int32_t ZARN_CALL fn(uint8_t driveId, T1 a, T2 b) {                                   \
    return Sequence([&] { return WriteNamed(driveId, objects::first, a); },                      \
                    [&] { return WriteNamed(driveId, objects::second, b); });                    \
  }

extern "C" {
ZARN_NAMED_READERS(ZARN_DEFINE_READER_)
ZARN_NAMED_WRITERS(ZARN_DEFINE_WRITER_)
ZARN_PAIR_WRITERS(ZARN_DEFINE_PAIR_)
}
