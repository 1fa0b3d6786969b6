#include "core/bits.h"

#include "core/access.h"

namespace zarn {

namespace {
int32_t ChangeObjectBit(uint8_t driveId, uint16_t index, int bit, bool set) {
  uint16_t value = 0;
  int32_t code = ReadValue(driveId, index, 0, &value);
  if (code != ZARN_OK) return code;
  set ? SetBit16(&value, bit) : ClearBit16(&value, bit);
  return WriteValue(driveId, index, 0, value);
}
}  // namespace

int32_t ClearObjectBit(uint8_t driveId, uint16_t index, int bit) { return ChangeObjectBit(driveId, index, bit, false); }
int32_t SetObjectBit(uint8_t driveId, uint16_t index, int bit) { return ChangeObjectBit(driveId, index, bit, true); }

int32_t PulseObjectBit(uint8_t driveId, uint16_t index, int bit) {
  uint16_t value = 0;
  int32_t code = ReadValue(driveId, index, 0, &value);
  if (code != ZARN_OK) return code;
  ClearBit16(&value, bit);
  if ((code = WriteValue(driveId, index, 0, value)) != ZARN_OK) return code;
  SetBit16(&value, bit);
  return WriteValue(driveId, index, 0, value);
}

int32_t EdgeObjectBit(uint8_t driveId, uint16_t index, int bit) {
  uint16_t value = 0;
  int32_t code = ReadValue(driveId, index, 0, &value);
  if (code != ZARN_OK) return code;
  if (TestBit16(&value, bit)) {
    ClearBit16(&value, bit);
    if ((code = WriteValue(driveId, index, 0, value)) != ZARN_OK) return code;
  }
  SetBit16(&value, bit);
  return WriteValue(driveId, index, 0, value);
}

int32_t ZeroThenSetObjectBit(uint8_t driveId, uint16_t index, int bit) {
  int32_t code = WriteValue<uint16_t>(driveId, index, 0, 0);
  if (code != ZARN_OK) return code;
  uint16_t value = 0;
  SetBit16(&value, bit);
  return WriteValue(driveId, index, 0, value);
}

}  // namespace zarn
