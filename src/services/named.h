// Helpers for the drive service exports: typed access to a named object of
// the object map, and ordered request sequences that stop at the first failure.
#pragma once

#include <cstdint>

#include "core/access.h"
#include "core/bits.h"
#include "protocol/objects.h"

namespace zarn {

template <typename T>
int32_t ReadNamed(uint8_t driveId, const objects::Object& object, T* value) {
  return ReadValue(driveId, object.index, object.subIndex, value);
}

template <typename T>
int32_t WriteNamed(uint8_t driveId, const objects::Object& object, T value) {
  return WriteValue(driveId, object.index, object.subIndex, value);
}

// Runs each step in order while they succeed; returns the first failing
// code, or the last step's.
template <typename... Steps>
int32_t Sequence(Steps... steps) {
  int32_t code = ZARN_OK;
  (void)(((code = steps()) == ZARN_OK) && ...);
  return code;
}

// Reads a 16-bit word and stores one of its bits as 0 or 1.
inline int32_t QueryBit16(uint8_t driveId, const objects::Object& word, int bit, int* value) {
  if (!value) return RejectArgument();
  uint16_t w = 0;
  const int32_t code = ReadNamed(driveId, word, &w);
  if (code == ZARN_OK) *value = TestBit16(&w, bit);
  return code;
}

}  // namespace zarn
