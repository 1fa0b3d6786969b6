// Raw parameter access exports, index-parameter records, parameter store, hex text.
#include "core/access.h"

#include <cstddef>
#include <cstring>

#include "protocol/objects.h"
#include "platform/platform.h"
#include "zarn/zarn.h"

namespace zarn {

int32_t ReadText(uint8_t driveId, uint16_t index, uint8_t subIndex, char* text) {
  if (!text) return RejectArgument();
  uint8_t buffer[kDataBufferSize] = {};
  int32_t code = ReadObject(driveId, index, subIndex, buffer);
  if (code == ZARN_OK) {
    size_t n = 0;
    while (n < kDataBufferSize && buffer[n] != 0) ++n;
    memcpy(text, buffer, n);
    text[n] = '\0';
  }
  return code;
}

namespace {

constexpr uint32_t kSaveSignature = 0x65766173;  // "save" read as a little-endian number
constexpr uint32_t kStoreSettleMs = 2000;

// The record's fields in subindex order. The record is byte-packed, so its
// fields are reached by offset and copied, never through a typed pointer.
struct IndexField {
  uint8_t subIndex;
  uint8_t offset;
  bool wide;  // signed 32-bit; otherwise unsigned 16-bit
};
constexpr IndexField kIndexFields[] = {
    {1, offsetof(IndexParameter, sub1), false},   {2, offsetof(IndexParameter, sub2), true},
    {3, offsetof(IndexParameter, sub3), true},    {4, offsetof(IndexParameter, sub4), true},
    {5, offsetof(IndexParameter, sub5), true},    {6, offsetof(IndexParameter, sub6), true},
    {7, offsetof(IndexParameter, sub7), true},    {8, offsetof(IndexParameter, sub8), false},
    {9, offsetof(IndexParameter, sub9), false},   {10, offsetof(IndexParameter, sub10), false},
    {11, offsetof(IndexParameter, sub11), false},
};

template <typename T>
int32_t ReadField(uint8_t driveId, uint16_t object, const IndexField& f, IndexParameter* record) {
  T value;
  const int32_t code = ReadValue(driveId, object, f.subIndex, &value);
  if (code == ZARN_OK) memcpy(reinterpret_cast<uint8_t*>(record) + f.offset, &value, sizeof value);
  return code;
}

template <typename T>
int32_t WriteField(uint8_t driveId, uint16_t object, const IndexField& f, const IndexParameter* record) {
  T value;
  memcpy(&value, reinterpret_cast<const uint8_t*>(record) + f.offset, sizeof value);
  return WriteValue(driveId, object, f.subIndex, value);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace
}  // namespace zarn

using namespace zarn;

extern "C" {

ZARN_API int32_t ZARN_CALL ZARN_ReadByte(uint8_t d, uint16_t i, uint8_t s, uint8_t* v) { return ReadValue(d, i, s, v); }
ZARN_API int32_t ZARN_CALL ZARN_ReadByteS(uint8_t d, uint16_t i, uint8_t s, int8_t* v) { return ReadValue(d, i, s, v); }
ZARN_API int32_t ZARN_CALL ZARN_ReadWord(uint8_t d, uint16_t i, uint8_t s, uint16_t* v) {
  return ReadValue(d, i, s, v);
}
ZARN_API int32_t ZARN_CALL ZARN_ReadWordS(uint8_t d, uint16_t i, uint8_t s, int16_t* v) {
  return ReadValue(d, i, s, v);
}
ZARN_API int32_t ZARN_CALL ZARN_ReadDWord(uint8_t d, uint16_t i, uint8_t s, uint32_t* v) {
  return ReadValue(d, i, s, v);
}
ZARN_API int32_t ZARN_CALL ZARN_ReadDWordS(uint8_t d, uint16_t i, uint8_t s, int32_t* v) {
  return ReadValue(d, i, s, v);
}
ZARN_API int32_t ZARN_CALL ZARN_WriteByte(uint8_t d, uint16_t i, uint8_t s, uint8_t v) {
  return WriteValue(d, i, s, v);
}
ZARN_API int32_t ZARN_CALL ZARN_WriteByteS(uint8_t d, uint16_t i, uint8_t s, int8_t v) {
  return WriteValue(d, i, s, v);
}
ZARN_API int32_t ZARN_CALL ZARN_WriteWord(uint8_t d, uint16_t i, uint8_t s, uint16_t v) {
  return WriteValue(d, i, s, v);
}
ZARN_API int32_t ZARN_CALL ZARN_WriteWordS(uint8_t d, uint16_t i, uint8_t s, int16_t v) {
  return WriteValue(d, i, s, v);
}
ZARN_API int32_t ZARN_CALL ZARN_WriteDWord(uint8_t d, uint16_t i, uint8_t s, uint32_t v) {
  return WriteValue(d, i, s, v);
}
ZARN_API int32_t ZARN_CALL ZARN_WriteDWordS(uint8_t d, uint16_t i, uint8_t s, int32_t v) {
  return WriteValue(d, i, s, v);
}

ZARN_API int32_t ZARN_CALL ZARN_ReadString(uint8_t driveId, uint16_t index, uint8_t subIndex, char* text) {
  return ReadText(driveId, index, subIndex, text);
}

ZARN_API int32_t ZARN_CALL ZARN_WriteString(uint8_t driveId, uint16_t index, uint8_t subIndex, const char* text) {
  if (!text) return RejectArgument();
  size_t length = strnlen(text, kDataBufferSize + 1);
  if (length > kDataBufferSize) return Record(ZARN_E_STRING_TOO_LONG);
  uint8_t buffer[kDataBufferSize] = {};
  memcpy(buffer, text, length);
  return WriteObject(driveId, index, subIndex, buffer, static_cast<uint16_t>(length));
}

ZARN_API int32_t ZARN_CALL ZARN_ReadIndexParameter(uint8_t driveId, int32_t number, IndexParameter* record) {
  if (!record) return RejectArgument();
  const uint16_t object = static_cast<uint16_t>(objects::kIndexParameterBase + number);
  for (const IndexField& f : kIndexFields) {
    const int32_t code =
        f.wide ? ReadField<int32_t>(driveId, object, f, record) : ReadField<uint16_t>(driveId, object, f, record);
    if (code != ZARN_OK) return code;
  }
  return ZARN_OK;
}

ZARN_API int32_t ZARN_CALL ZARN_WriteIndexParameter(uint8_t driveId, int32_t number, const IndexParameter* record) {
  if (!record) return RejectArgument();
  const uint16_t object = static_cast<uint16_t>(objects::kIndexParameterBase + number);
  for (const IndexField& f : kIndexFields) {
    const int32_t code =
        f.wide ? WriteField<int32_t>(driveId, object, f, record) : WriteField<uint16_t>(driveId, object, f, record);
    if (code != ZARN_OK) return code;
  }
  return ZARN_OK;
}

ZARN_API int32_t ZARN_CALL ZARN_StoreParameter(uint8_t driveId) {
  // The first write's outcome is not examined: the second is made regardless.
  WriteValue<uint32_t>(driveId, objects::StoreParameters.index, objects::StoreParameters.subIndex, kSaveSignature);
  platform::SleepMs(kStoreSettleMs);
  return WriteValue<uint32_t>(driveId, objects::StoreParametersAll.index, objects::StoreParametersAll.subIndex,
                              kSaveSignature);
}

ZARN_API int32_t ZARN_CALL ZARN_BinToStr(char* text, const uint8_t* data, int32_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (!text || (length > 0 && !data)) return RejectArgument();
  int32_t n = length > 0 ? length : 0;
  for (int32_t i = 0; i < n; ++i) {
    text[2 * i] = kDigits[data[i] >> 4];
    text[2 * i + 1] = kDigits[data[i] & 0x0F];
  }
  text[2 * n] = '\0';
  return Record(ZARN_OK);
}

ZARN_API int32_t ZARN_CALL ZARN_StrToBin(const char* text, uint8_t* data) {
  if (!text || !data) return RejectArgument();
  size_t length = strnlen(text, 501);
  if (length <= 500 && length % 2 == 0) {
    for (size_t i = 0; i < length / 2; ++i) {
      int hi = HexDigit(text[2 * i]);
      int lo = HexDigit(text[2 * i + 1]);
      data[i] = (hi < 0 || lo < 0) ? 0 : static_cast<uint8_t>(hi * 16 + lo);
    }
  }
  return Record(ZARN_OK);
}

}  // extern "C"
