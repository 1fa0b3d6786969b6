// The request record: one read or write of one object, as it goes to a drive
// and as its reply comes back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zarn {

// Size of the transmit and receive data areas of a request.
constexpr size_t kPacketDataSize = 65;
// Size of the data buffer every access export works through.
constexpr size_t kDataBufferSize = 32;

struct MeiPacket {
  uint8_t kind = 0;
  uint8_t driveId = 0;
  uint16_t index = 0;
  uint8_t subIndex = 0;
  uint16_t txLength = 0;  // data bytes to write
  bool write = false;     // a write even with no data bytes (an empty text)
  uint16_t rxLength = 0;  // data bytes the reply delivered into rxData
  uint8_t txData[kPacketDataSize] = {};
  uint8_t rxData[kPacketDataSize] = {};

  // A request without data bytes is a read, unless it was made as a write.
  bool IsWrite() const { return write || txLength != 0; }
};

}  // namespace zarn
