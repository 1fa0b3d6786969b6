// Servo state control: enable, disable, alarms, emergency stop, procedures, modes.
#include "services/named.h"
#include "platform/platform.h"
#include "zarn/zarn.h"

using namespace zarn;
namespace bits = zarn::objects::bits;

namespace {
constexpr uint16_t kClearAlarmHistory = 3;
constexpr uint16_t kSoftReset = 9;
constexpr uint32_t kAlarmResetHoldMs = 500;
const objects::Object& kControl1 = objects::ControlInput1;
}  // namespace

extern "C" {

ZARN_API int32_t ZARN_CALL ZARN_Enable(uint8_t d) { return SetObjectBit(d, kControl1.index, bits::kServoEnable); }
ZARN_API int32_t ZARN_CALL ZARN_Disable(uint8_t d) { return ClearObjectBit(d, kControl1.index, bits::kServoEnable); }
ZARN_API int32_t ZARN_CALL ZARN_IsEnabled(uint8_t d, int* enabled) {
  return QueryBit16(d, kControl1, bits::kServoEnable, enabled);
}

ZARN_API int32_t ZARN_CALL ZARN_ResetAlarm(uint8_t d) {
  const int32_t code = SetObjectBit(d, kControl1.index, bits::kAlarmReset);
  if (code != ZARN_OK) return code;
  platform::SleepMs(kAlarmResetHoldMs);
  return ClearObjectBit(d, kControl1.index, bits::kAlarmReset);
}

ZARN_API int32_t ZARN_CALL ZARN_EmergencyStop(uint8_t d) {
  // The stop bit goes out even when the clearing write before it failed (a busy drive must
  // still be stopped); the first failure is what the caller and the last error see.
  const int32_t cleared = WriteNamed<uint16_t>(d, kControl1, 0);
  uint16_t word = 0;
  SetBit16(&word, bits::kEmergencyStop);
  const int32_t stopped = WriteNamed(d, kControl1, word);
  if (cleared == ZARN_OK) return stopped;
  SetLastError(cleared);
  return cleared;
}

ZARN_API int32_t ZARN_CALL ZARN_IsAlarm(uint8_t d, int* alarm, uint16_t* code) {
  if (!alarm || !code) return RejectArgument();
  const int32_t result = QueryBit16(d, objects::StateOutput, bits::kAlarm, alarm);
  if (result != ZARN_OK) return result;
  return ReadNamed(d, objects::ErrorCode, code);
}

ZARN_API int32_t ZARN_CALL ZARN_ProcedureCmd(uint8_t d, uint16_t command, uint16_t argument) {
  // The argument is in place before the command write starts the procedure.
  return Sequence([&] { return WriteNamed(d, objects::ProcedureArgument, argument); },
                  [&] { return WriteNamed(d, objects::ProcedureCommand, command); });
}

ZARN_API int32_t ZARN_CALL ZARN_ClearAlarmHistory(uint8_t d) { return ZARN_ProcedureCmd(d, kClearAlarmHistory, 1); }
ZARN_API int32_t ZARN_CALL ZARN_DriveSoftReset(uint8_t d) { return ZARN_ProcedureCmd(d, kSoftReset, 1); }

ZARN_API int32_t ZARN_CALL ZARN_GetAlarmHistory(uint8_t d, uint8_t number, char* text) {
  return ReadText(d, objects::kAlarmHistory, number, text);
}

ZARN_API int32_t ZARN_CALL ZARN_SetControlMode(uint8_t d, uint16_t mode) {
  return WriteNamed(d, objects::ControlMode, mode);
}

ZARN_API int32_t ZARN_CALL ZARN_SetOperationMode(uint8_t d, char mode) {
  return WriteNamed(d, objects::OperationMode, static_cast<int8_t>(mode));
}

}  // extern "C"
