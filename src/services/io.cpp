// Status bits, digital I/O, signal configuration and command-word bits by number.
#include "services/named.h"
#include "zarn/zarn.h"

using namespace zarn;
namespace bits = zarn::objects::bits;

namespace {

constexpr uint32_t kAllOutputs = 0xFFFFFFFF;

bool ValidBit(int bit) { return bit >= 0 && bit <= 15; }

int32_t QueryInputBit(uint8_t d, int bit, int* value) {
  if (!value) return RejectArgument();
  uint32_t inputs = 0;
  const int32_t code = ReadNamed(d, objects::DigitalInputs, &inputs);
  if (code == ZARN_OK) *value = TestBit32(&inputs, bit);
  return code;
}

int32_t WriteOutputs(uint8_t d, uint32_t outputs, uint32_t mask) {
  return Sequence([&] { return WriteNamed(d, objects::DigitalOutputs, outputs); },
                  [&] { return WriteNamed(d, objects::DigitalOutputMask, mask); });
}

// Signal number 0 is refused before any request, without touching the last error.
int32_t GetSignal(uint8_t d, uint16_t base, uint8_t number, uint16_t* signal, uint16_t* flag) {
  if (number == 0) return ZARN_E_INVALID_PARAM;
  if (!signal || !flag) return RejectArgument();
  uint16_t word = 0;
  const int32_t code = ReadValue(d, static_cast<uint16_t>(base + number), 0, &word);
  if (code != ZARN_OK) return code;
  *signal = static_cast<uint16_t>(word & 0x00FF);
  *flag = static_cast<uint16_t>(TestBit16(&word, bits::kSignalFlag));
  return ZARN_OK;
}

int32_t SetSignal(uint8_t d, uint16_t base, uint8_t number, uint16_t signal, uint16_t flag) {
  if (number == 0) return ZARN_E_INVALID_PARAM;
  uint16_t word = signal;
  flag ? SetBit16(&word, bits::kSignalFlag) : ClearBit16(&word, bits::kSignalFlag);
  return WriteValue(d, static_cast<uint16_t>(base + number), 0, word);
}

int32_t GetWordBit(uint8_t d, const objects::Object& word, int bit, int* value) {
  if (!ValidBit(bit)) return RejectArgument();
  return QueryBit16(d, word, bit, value);
}

int32_t SetWordBit(uint8_t d, const objects::Object& word, int bit, int on) {
  if (!ValidBit(bit)) return RejectArgument();
  return on ? SetObjectBit(d, word.index, bit) : ClearObjectBit(d, word.index, bit);
}

}  // namespace

extern "C" {

ZARN_API int32_t ZARN_CALL ZARN_IsNegativeLimit(uint8_t d, int* v) { return QueryInputBit(d, bits::kNegativeLimit, v); }
ZARN_API int32_t ZARN_CALL ZARN_IsPositiveLimit(uint8_t d, int* v) { return QueryInputBit(d, bits::kPositiveLimit, v); }
ZARN_API int32_t ZARN_CALL ZARN_IsHomeSensor(uint8_t d, int* v) { return QueryInputBit(d, bits::kHomeSwitch, v); }
ZARN_API int32_t ZARN_CALL ZARN_IsTorqueLimit(uint8_t d, int* v) {
  return QueryBit16(d, objects::StateOutput, bits::kTorqueLimit, v);
}

ZARN_API int32_t ZARN_CALL ZARN_GetDigitalInputs(uint8_t d, uint32_t* v) {
  return ReadNamed(d, objects::DigitalInputs, v);
}
ZARN_API int32_t ZARN_CALL ZARN_GetDigitalOutputs(uint8_t d, uint32_t* v) {
  return ReadNamed(d, objects::DigitalOutputs, v);
}
ZARN_API int32_t ZARN_CALL ZARN_SetDigitalOutputs(uint8_t d, uint32_t outputs) {
  return WriteOutputs(d, outputs, kAllOutputs);
}
ZARN_API int32_t ZARN_CALL ZARN_SetDigitalOutputsWithMask(uint8_t d, uint32_t outputs, uint32_t mask) {
  return WriteOutputs(d, outputs, mask);
}

ZARN_API int32_t ZARN_CALL ZARN_GetDigitalInputSignals(uint8_t d, uint8_t n, uint16_t* signal, uint16_t* flag) {
  return GetSignal(d, objects::kInputSignalBase, n, signal, flag);
}
ZARN_API int32_t ZARN_CALL ZARN_SetDigitalInputSignals(uint8_t d, uint8_t n, uint16_t signal, uint16_t flag) {
  return SetSignal(d, objects::kInputSignalBase, n, signal, flag);
}
ZARN_API int32_t ZARN_CALL ZARN_GetDigitalOutputSignals(uint8_t d, uint8_t n, uint16_t* signal, uint16_t* flag) {
  return GetSignal(d, objects::kOutputSignalBase, n, signal, flag);
}
ZARN_API int32_t ZARN_CALL ZARN_SetDigitalOutputSignals(uint8_t d, uint8_t n, uint16_t signal, uint16_t flag) {
  return SetSignal(d, objects::kOutputSignalBase, n, signal, flag);
}

ZARN_API int32_t ZARN_CALL ZARN_GetDriveControlInput1(uint8_t d, int bit, int* v) {
  return GetWordBit(d, objects::ControlInput1, bit, v);
}
ZARN_API int32_t ZARN_CALL ZARN_GetDriveControlInput2(uint8_t d, int bit, int* v) {
  return GetWordBit(d, objects::ControlInput2, bit, v);
}
ZARN_API int32_t ZARN_CALL ZARN_GetDriveStateOutput(uint8_t d, int bit, int* v) {
  return GetWordBit(d, objects::StateOutput, bit, v);
}
ZARN_API int32_t ZARN_CALL ZARN_SetDriveControlInput1(uint8_t d, int bit, int on) {
  return SetWordBit(d, objects::ControlInput1, bit, on);
}
ZARN_API int32_t ZARN_CALL ZARN_SetDriveControlInput2(uint8_t d, int bit, int on) {
  return SetWordBit(d, objects::ControlInput2, bit, on);
}

}  // extern "C"
