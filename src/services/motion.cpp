// Motion commands: moves, homing, start, stop, waiting and motion status.
#include "services/named.h"
#include "platform/platform.h"
#include "zarn/zarn.h"

using namespace zarn;
namespace bits = zarn::objects::bits;

namespace {

constexpr int8_t kHomeOnCurrentPosition = 35;
constexpr uint32_t kPollPeriodMs = 10;

// A rising edge of the start bit from an all-zero word.
int32_t StartSequence(uint8_t d) { return ZeroThenSetObjectBit(d, objects::ControlInput2.index, bits::kStart); }

int32_t SetRelative(uint8_t d, bool relative) {
  return relative ? SetObjectBit(d, objects::ControlWord.index, bits::kRelative)
                  : ClearObjectBit(d, objects::ControlWord.index, bits::kRelative);
}

int32_t Move(uint8_t d, int32_t target, bool relative) {
  return Sequence([&] { return WriteNamed(d, objects::TargetPosition, target); },
                  [&] { return SetRelative(d, relative); }, [&] { return StartSequence(d); });
}

int32_t ProfiledMove(uint8_t d, int32_t target, uint32_t velocity, uint32_t acceleration, uint32_t deceleration,
                     bool relative) {
  return Sequence([&] { return WriteNamed(d, objects::TargetPosition, target); },
                  [&] { return WriteNamed(d, objects::ProfileVelocity, velocity); },
                  [&] { return WriteNamed(d, objects::ProfileAcceleration, acceleration); },
                  [&] { return WriteNamed(d, objects::ProfileDeceleration, deceleration); },
                  [&] { return SetRelative(d, relative); }, [&] { return StartSequence(d); });
}

}  // namespace

extern "C" {

ZARN_API int32_t ZARN_CALL ZARN_MoveAbs(uint8_t d, int32_t position) { return Move(d, position, false); }
ZARN_API int32_t ZARN_CALL ZARN_MoveRel(uint8_t d, int32_t distance) { return Move(d, distance, true); }

ZARN_API int32_t ZARN_CALL ZARN_MoveAbsolute(uint8_t d, int32_t position, uint32_t velocity, uint32_t acceleration,
                                             uint32_t deceleration) {
  return ProfiledMove(d, position, velocity, acceleration, deceleration, false);
}

ZARN_API int32_t ZARN_CALL ZARN_MoveRelative(uint8_t d, int32_t distance, uint32_t velocity, uint32_t acceleration,
                                             uint32_t deceleration) {
  return ProfiledMove(d, distance, velocity, acceleration, deceleration, true);
}

ZARN_API int32_t ZARN_CALL ZARN_MoveIndex(uint8_t d, uint16_t indexNumber) {
  return Sequence([&] { return WriteNamed(d, objects::IndexNumber, indexNumber); }, [&] { return StartSequence(d); });
}

ZARN_API int32_t ZARN_CALL ZARN_Start(uint8_t d) { return StartSequence(d); }

ZARN_API int32_t ZARN_CALL ZARN_Stop(uint8_t d) { return PulseObjectBit(d, objects::ControlInput1.index, bits::kStop); }

ZARN_API int32_t ZARN_CALL ZARN_Homing(uint8_t d, char method, int32_t switchSpeed, int32_t zeroSpeed,
                                       uint32_t acceleration, int16_t offset) {
  return Sequence([&] { return WriteNamed(d, objects::HomingMethod, static_cast<int8_t>(method)); },
                  [&] { return WriteNamed(d, objects::HomingSwitchSpeed, switchSpeed); },
                  [&] { return WriteNamed(d, objects::HomingZeroSpeed, zeroSpeed); },
                  [&] { return WriteNamed(d, objects::HomingAcceleration, acceleration); },
                  [&] { return WriteNamed(d, objects::HomeOffset, static_cast<int32_t>(offset)); },
                  // A drive starts homing on an edge: a start bit left set by the last homing would
                  // start nothing, so it is cleared first.
                  [&] { return EdgeObjectBit(d, objects::ControlInput2.index, bits::kHomingStart); });
}

ZARN_API int32_t ZARN_CALL ZARN_SetCurrentPosition(uint8_t d, int32_t position) {
  return Sequence([&] { return WriteNamed(d, objects::HomingMethod, kHomeOnCurrentPosition); },
                  [&] { return WriteNamed(d, objects::HomeOffset, position); },
                  [&] { return PulseObjectBit(d, objects::ControlInput2.index, bits::kHomingStart); });
}

ZARN_API int32_t ZARN_CALL ZARN_WaitMoveDone(uint8_t d, uint32_t timeout, int* done) {
  if (!done) return RejectArgument();
  const uint32_t start = platform::TickCount();
  int inPosition = 0;
  // The drive is always polled once, so even a time-out of 0 answers with its state.
  for (bool first = true; first || platform::TickCount() - start < timeout; first = false) {
    const int32_t code = QueryBit16(d, objects::StateOutput, bits::kInPosition, &inPosition);
    if (code != ZARN_OK) return code;
    if (inPosition) break;
    platform::SleepMs(kPollPeriodMs);
  }
  *done = inPosition;
  return ZARN_OK;
}

ZARN_API int32_t ZARN_CALL ZARN_IsInPosition(uint8_t d, int* value) {
  return QueryBit16(d, objects::StateOutput, bits::kInPosition, value);
}
ZARN_API int32_t ZARN_CALL ZARN_IsInVelocity(uint8_t d, int* value) {
  return QueryBit16(d, objects::StateOutput, bits::kInVelocity, value);
}
ZARN_API int32_t ZARN_CALL ZARN_IsHome(uint8_t d, int* value) {
  return QueryBit16(d, objects::HomingState, bits::kHomingDone, value);
}
ZARN_API int32_t ZARN_CALL ZARN_IsEndIndex(uint8_t d, int* value) {
  return QueryBit16(d, objects::HomingState, bits::kIndexEnded, value);
}

}  // extern "C"
