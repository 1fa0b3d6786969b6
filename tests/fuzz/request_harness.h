// What the whole-request fuzz targets share: a request made through the
// exports with its outputs in buffers of their exact size, and the checks of
// its outcome against the reply bytes the drive sent.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "zarn/zarn.h"

#define REQUIRE(condition) \
  if (!(condition)) __builtin_trap()

namespace zarn {
namespace fuzz {

enum class Kind { kReadByte, kReadWord, kReadDWordS, kReadString, kWriteDWord, kWriteString, kCount };

struct Request {
  Kind kind;
  uint8_t driveId;
  uint16_t index;
  uint8_t subIndex;
  uint32_t value;
  std::string text;
};

inline Request ChooseRequest(FuzzedDataProvider& in, uint8_t maxDriveId) {
  Request r;
  r.kind = static_cast<Kind>(in.ConsumeIntegralInRange<int>(0, static_cast<int>(Kind::kCount) - 1));
  r.driveId = in.ConsumeIntegralInRange<uint8_t>(0, maxDriveId);
  r.index = in.ConsumeIntegral<uint16_t>();
  r.subIndex = in.ConsumeIntegral<uint8_t>();
  r.value = in.ConsumeIntegral<uint32_t>();
  if (r.kind == Kind::kWriteString) r.text.assign(in.ConsumeIntegralInRange<size_t>(0, 40), 'z');
  return r;
}

inline bool IsRead(Kind k) { return k != Kind::kWriteDWord && k != Kind::kWriteString; }

struct Outcome {
  int32_t code;
  std::vector<uint8_t> value;  // a read's output as the caller's buffer holds it afterwards
};

constexpr uint8_t kUntouched = 0xA5;

// Makes the request; each output lives in a heap block of exactly its size.
inline Outcome Perform(const Request& r) {
  Outcome o;
  size_t size = 0;
  switch (r.kind) {
    case Kind::kReadByte: size = 1; break;
    case Kind::kReadWord: size = 2; break;
    case Kind::kReadDWordS: size = 4; break;
    case Kind::kReadString: size = 33; break;
    default: break;
  }
  std::unique_ptr<uint8_t[]> out(new uint8_t[size ? size : 1]);
  memset(out.get(), kUntouched, size ? size : 1);
  switch (r.kind) {
    case Kind::kReadByte: o.code = ZARN_ReadByte(r.driveId, r.index, r.subIndex, out.get()); break;
    case Kind::kReadWord:
      o.code = ZARN_ReadWord(r.driveId, r.index, r.subIndex, reinterpret_cast<uint16_t*>(out.get()));
      break;
    case Kind::kReadDWordS:
      o.code = ZARN_ReadDWordS(r.driveId, r.index, r.subIndex, reinterpret_cast<int32_t*>(out.get()));
      break;
    case Kind::kReadString:
      o.code = ZARN_ReadString(r.driveId, r.index, r.subIndex, reinterpret_cast<char*>(out.get()));
      break;
    case Kind::kWriteDWord: o.code = ZARN_WriteDWord(r.driveId, r.index, r.subIndex, r.value); break;
    default: o.code = ZARN_WriteString(r.driveId, r.index, r.subIndex, r.text.c_str()); break;
  }
  o.value.assign(out.get(), out.get() + size);
  return o;
}

// The read's data as the reply carries it: `data` holds at most `announced`
// bytes from the data offset; what the reply lacks reads as zero.
inline void CheckRead(const Request& r, const Outcome& o, const std::vector<uint8_t>& data) {
  if (o.code != ZARN_OK) {
    for (uint8_t b : o.value) REQUIRE(b == kUntouched);  // a failed read leaves its output alone
    return;
  }
  auto at = [&](size_t i) -> uint8_t { return i < data.size() ? data[i] : 0; };
  switch (r.kind) {
    case Kind::kReadByte: REQUIRE(o.value[0] == at(0)); break;
    case Kind::kReadWord: {
      uint16_t v;
      memcpy(&v, o.value.data(), 2);
      REQUIRE(v == (at(0) << 8 | at(1)));
      break;
    }
    case Kind::kReadDWordS: {
      uint32_t v;
      memcpy(&v, o.value.data(), 4);
      REQUIRE(v == (uint32_t(at(0)) << 24 | uint32_t(at(1)) << 16 | uint32_t(at(2)) << 8 | at(3)));
      break;
    }
    case Kind::kReadString: {
      size_t n = 0;
      while (n < 32 && at(n) != 0) ++n;
      REQUIRE(o.value[n] == 0 && (n == 0 || memcmp(o.value.data(), data.data(), n) == 0));
      break;
    }
    default: break;
  }
}

// The last frames, copied out into buffers of the documented sizes.
inline void CheckPackets(uint8_t driveId) {
  std::unique_ptr<uint8_t[]> rx(new uint8_t[65]), tx(new uint8_t[67]);
  uint16_t length = 0xFFFF;
  const int32_t code = ZARN_GetRxPackets(driveId, rx.get(), &length);
  REQUIRE(code != ZARN_OK || length <= 65);
  length = 0xFFFF;
  REQUIRE(ZARN_GetTxPackets(driveId, tx.get(), &length) != ZARN_OK || length <= 67);
}

}  // namespace fuzz
}  // namespace zarn
