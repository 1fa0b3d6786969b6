// Typed object access shared by the raw access exports and the drive services.
#pragma once

#include <cstdint>
#include <type_traits>

#include "core/dispatch.h"
#include "core/state.h"
#include "zarn/zarn_errors.h"

namespace zarn {

// Rejects a call before any request: records and returns ZARN_E_INVALID_PARAM.
inline int32_t RejectArgument() { return Record(ZARN_E_INVALID_PARAM); }

template <typename T>
T FromBigEndian(const uint8_t* bytes) {
  using U = typename std::make_unsigned<T>::type;
  U v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v = static_cast<U>((v << 8) | bytes[i]);
  return static_cast<T>(v);
}

template <typename T>
void ToBigEndian(T value, uint8_t* bytes) {
  using U = typename std::make_unsigned<T>::type;
  U v = static_cast<U>(value);
  for (size_t i = sizeof(T); i-- > 0;) {
    bytes[i] = static_cast<uint8_t>(v & 0xFF);
    v = static_cast<U>(v >> 8);
  }
}

// Reads one object as a T (1, 2 or 4 bytes, most significant first); *value
// is written only on success. Missing reply bytes read as zero.
template <typename T>
int32_t ReadValue(uint8_t driveId, uint16_t index, uint8_t subIndex, T* value) {
  static_assert(std::is_integral<T>::value && sizeof(T) <= 4, "1, 2 or 4 byte integers");
  if (!value) return RejectArgument();
  uint8_t buffer[kDataBufferSize] = {};
  int32_t code = ReadObject(driveId, index, subIndex, buffer);
  if (code == ZARN_OK) *value = FromBigEndian<T>(buffer);
  return code;
}

template <typename T>
int32_t WriteValue(uint8_t driveId, uint16_t index, uint8_t subIndex, T value) {
  static_assert(std::is_integral<T>::value && sizeof(T) <= 4, "1, 2 or 4 byte integers");
  uint8_t buffer[kDataBufferSize] = {};
  ToBigEndian(value, buffer);
  return WriteObject(driveId, index, subIndex, buffer, sizeof(T));
}

// Reads a text object (at most 32 characters) into text, NUL-terminated.
int32_t ReadText(uint8_t driveId, uint16_t index, uint8_t subIndex, char* text);

}  // namespace zarn
