#include "protocol/frame.h"

#include <algorithm>
#include <cstring>

#include "zarn/zarn_errors.h"

namespace zarn {
namespace frame {

namespace {

struct CrcTable {
  uint16_t entry[256];
  constexpr CrcTable() : entry() {
    for (int i = 0; i < 256; ++i) {
      uint16_t v = static_cast<uint16_t>(i);
      for (int bit = 0; bit < 8; ++bit)
        v = (v & 1) ? static_cast<uint16_t>((v >> 1) ^ 0xA001) : static_cast<uint16_t>(v >> 1);
      entry[i] = v;
    }
  }
};

constexpr CrcTable kCrcTable;

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t count) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < count; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable.entry[(crc ^ data[i]) & 0xFF]);
  return crc;
}

int32_t ExceptionToError(uint8_t exceptionCode) {
  switch (exceptionCode) {
    case 1: return ZARN_E_REPLY_ILLEGAL_FUNCTION;
    case 2: return ZARN_E_REPLY_ILLEGAL_ADDRESS;
    case 3: return ZARN_E_REPLY_ILLEGAL_DATA;
    case 4: return ZARN_E_REPLY_DEVICE_FAILURE;
    case 5: return ZARN_E_REPLY_LONG_JOB;
    case 6: return ZARN_E_REPLY_BUSY;
    case 8: return ZARN_E_REPLY_FILE_CHECK;
    default: return ZARN_E_REPLY_UNKNOWN;
  }
}

namespace {
// The body header: 8 bytes for a read, 12 for a write announcing n data bytes.
size_t WriteHeader(const MeiPacket& packet, uint8_t* out) {
  const bool write = packet.IsWrite();
  out[0] = kFunctionCode;
  out[1] = kMeiType;
  out[2] = write ? kProtocolWrite : kProtocolRead;
  out[3] = 0x00;
  out[4] = 0x00;
  out[5] = static_cast<uint8_t>(packet.index >> 8);
  out[6] = static_cast<uint8_t>(packet.index & 0xFF);
  out[7] = packet.subIndex;
  if (!write) return kReadBodySize;
  out[8] = 0x00;
  out[9] = 0x00;
  out[10] = static_cast<uint8_t>(packet.txLength >> 8);
  out[11] = static_cast<uint8_t>(packet.txLength & 0xFF);
  return kWriteHeaderSize;
}
}  // namespace

size_t BuildBody(const MeiPacket& packet, uint8_t* out, size_t capacity) {
  const size_t length = packet.IsWrite() ? kWriteHeaderSize + packet.txLength : kReadBodySize;
  if (length > capacity || packet.txLength > sizeof packet.txData) return 0;
  const size_t header = WriteHeader(packet, out);
  memcpy(out + header, packet.txData, packet.txLength);
  return length;
}

int32_t BuildSerialRequest(const MeiPacket& packet, uint8_t* tx, uint16_t* length) {
  memset(tx, 0, kSerialFrameLimit);
  tx[0] = packet.driveId;
  const size_t header = 1 + WriteHeader(packet, tx + 1);
  if (header + packet.txLength > kSerialFrameLimit) {
    *length = 0;
    return ZARN_E_SERIAL_TOO_BIG;  // the header stands in tx; nothing is sent
  }
  memcpy(tx + header, packet.txData, packet.txLength);
  const size_t n = header + packet.txLength;
  const uint16_t crc = Crc16(tx, n);
  tx[n] = static_cast<uint8_t>(crc & 0xFF);
  tx[n + 1] = static_cast<uint8_t>(crc >> 8);
  *length = static_cast<uint16_t>(n + 2);
  return ZARN_OK;
}

bool SerialException(const uint8_t* rx, size_t count, int32_t* error) {
  if (count < kSerialExceptionSize || rx[1] < 0x80) return false;
  *error = ExceptionToError(rx[2]);
  return true;
}

bool SerialReplyComplete(const uint8_t* rx, size_t count, bool isRead, size_t requestLength, uint16_t* rxLength) {
  if (!isRead) return count >= requestLength;
  if (count < requestLength + 2) return false;
  const size_t m = static_cast<size_t>(rx[requestLength]) << 8 | rx[requestLength + 1];
  *rxLength = static_cast<uint16_t>(m);
  return count >= requestLength + m + 4;
}

int32_t CheckSerialReply(const uint8_t* rx, size_t count, const uint8_t* request, size_t requestLength,
                         MeiPacket* packet) {
  if (!packet->IsWrite()) {
    const size_t dataStart = requestLength + 2;
    const size_t available = count > dataStart ? count - dataStart : 0;
    const size_t n = std::min<size_t>({packet->rxLength, available, sizeof packet->rxData});
    memcpy(packet->rxData, rx + dataStart, n);
    packet->rxLength = static_cast<uint16_t>(n);
  } else {
    packet->rxLength = 0;
  }
  if (count < requestLength) return ZARN_E_SERIAL_ECHO;
  if (memcmp(rx, request, requestLength) != 0) return ZARN_E_SERIAL_ECHO;
  if (count < 2) return ZARN_E_SERIAL_CRC;
  const uint16_t crc = Crc16(rx, count - 2);
  if (rx[count - 2] != (crc & 0xFF) || rx[count - 1] != (crc >> 8)) return ZARN_E_SERIAL_CRC;
  return ZARN_OK;
}

}  // namespace frame
}  // namespace zarn
