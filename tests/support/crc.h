// CRC-16/MODBUS computed bit by bit: the tests' own, independent of the
// library's table-driven one. The one copy for the peers, the raw drives,
// the benchmarks and the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zarn {
namespace test {

inline uint16_t Crc16Bitwise(const uint8_t* data, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int b = 0; b < 8; ++b)
      crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

}  // namespace test
}  // namespace zarn
